#!/usr/bin/env python3
"""The dead links one tool reported, for bench/documents.sh: one target a line
for each report of one, a local target as its path below SITE (fragment
dropped), a remote one as the whole address, so that the tools' lists compare.

    documents_dead.py TOOL REPORT SITE

TOOL is tessaly-check, linkinator, markdown-link-check, hyperlink or
linkchecker; paths in REPORT are taken from the current folder, where the
benchmark runs every tool.
"""

import csv
import json
import os
import sys
from urllib.parse import unquote, urlsplit


def target(address, site, origin=None):
    """A dead link's target as the lists compare it."""
    if origin and address.startswith(origin):
        address = address[len(origin):]
    elif address.startswith(("http://", "https://")):
        return address
    elif address.startswith("file://"):
        address = unquote(urlsplit(address).path)
    path = os.path.abspath(address.split("#", 1)[0])
    return os.path.relpath(path, os.path.abspath(site))


def tessaly_check(report, site):
    for line in report:
        if line.startswith("{"):  # --format jsonl
            entry = json.loads(line)
            if entry["verdict"] == "invalid":
                yield target(entry["address"], site)
        elif line.startswith("invalid\t"):  # verdict, status or reason, address, ...
            yield target(line.rstrip("\n").split("\t")[2], site)


def linkinator(report, site):
    # Local pages come as paths ("html/d1/p3.html") or, from its own server,
    # as http://localhost:PORT/... below the folder it serves.
    for link in json.load(report)["links"]:
        if link["state"] == "BROKEN":
            url = link["url"]
            parts = urlsplit(url)
            local = parts.hostname == "localhost" and parts.scheme == "http"
            yield target(parts.path.lstrip("/") if local else url, "." if local else site)


def markdown_link_check(report, site):
    # "FILE: md/d0/p1.md", then a line for each link: "  [✖] ../d1/gone3.md".
    folder = "."
    for line in report:
        if line.startswith("FILE: "):
            folder = os.path.dirname(line[6:].strip())
        elif line.strip().startswith("[✖] "):
            link = line.strip()[4:].split(" → ", 1)[0]
            yield target(link if link.startswith(("http://", "https://")) else os.path.join(folder, link), site)


def hyperlink(report, site):
    # TAP: "not ok 12 load html/d1/gone3.html", "not ok 13 external-check http://..."
    for line in report:
        if line.startswith("not ok "):
            yield target(line.split()[-1], site)


def linkchecker(report, site):
    rows = csv.DictReader((line for line in report if not line.startswith("#")), delimiter=";")
    for row in rows:
        if row["valid"] == "False":
            yield target(row["url"], site)


TOOLS = {
    "tessaly-check": tessaly_check,
    "linkinator": linkinator,
    "markdown-link-check": markdown_link_check,
    "hyperlink": hyperlink,
    "linkchecker": linkchecker,
}

if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in TOOLS:
        sys.exit(__doc__)
    with open(sys.argv[2], encoding="utf-8", errors="replace") as report:
        for found in TOOLS[sys.argv[1]](report, sys.argv[3]):
            print(found)
