#!/usr/bin/python3
"""Holds the HTML link reader to html5lib, another reading of HTML5.

For every .html/.htm file under a folder (default /usr/share/doc), the links
html5lib's tree gives by the same rules must be the ones, in the same order,
that a command prints as JSON lines, one a link:
  {"file": PATH, "line": N, "column": N, "address": "...", "element": "a href"}
and the source text at each line and column must start with the address as
written, unless a character reference near it makes the two differ.

  html_links.py [--folder DIR] [--known FILE] COMMAND [ARGUMENT...]

The files' paths are put after the command's arguments, some hundred at a
time. A file of known disagreements holds one path a line with its reason
after a '#'; such a file is reported but does not fail. The last line says
"N passed, M failed" (files agreeing and not); the exit status is 1 when any
file failed.
"""
import argparse
import json
import os
import subprocess
import sys

import html5lib

HTML = "{http://www.w3.org/1999/xhtml}"
SPACE = " \t\n\f\r"
LINK_ATTRIBUTES = {
    ("a", "href"), ("area", "href"), ("link", "href"), ("img", "src"), ("img", "srcset"),
    ("source", "src"), ("source", "srcset"), ("video", "src"), ("video", "poster"), ("audio", "src"),
    ("track", "src"), ("iframe", "src"), ("embed", "src"), ("script", "src"), ("object", "data"),
}
BATCH = 100


def srcset_addresses(value):
    """The candidates' addresses, by HTML's srcset parsing."""
    addresses, at, end = [], 0, len(value)
    while True:
        while at < end and (value[at] in SPACE or value[at] == ","):
            at += 1
        if at >= end:
            return addresses
        start = at
        while at < end and value[at] not in SPACE:
            at += 1
        address = value[start:at]
        if address.endswith(","):
            address = address.rstrip(",")
        else:
            parenthesis = False
            while at < end:
                c = value[at]
                if c == "(":
                    parenthesis = True
                elif c == ")":
                    parenthesis = False
                elif c == "," and not parenthesis:
                    break
                at += 1
            at += 1
        addresses.append(address)


def refresh_address(content):
    """The address of a refresh, by HTML's shared declarative refresh steps; None if none."""
    at, end = 0, len(content)

    def skip_space():
        nonlocal at
        while at < end and content[at] in SPACE:
            at += 1

    skip_space()
    start = at
    while at < end and content[at] in "0123456789":
        at += 1
    if at == start and (at >= end or content[at] != "."):
        return None
    while at < end and content[at] in "0123456789.":
        at += 1
    if at < end:
        if content[at] not in ";," + SPACE:
            return None
        skip_space()
        if at < end and content[at] in ";,":
            at += 1
        skip_space()
    if at >= end:
        return None
    remainder = content[at:]
    for letter in "url":
        if at < end and content[at].lower() == letter:
            at += 1
        elif letter == "u":
            break
        else:
            return remainder
    else:
        skip_space()
        if at >= end or content[at] != "=":
            return remainder
        at += 1
        skip_space()
    if at < end and content[at] in "\"'":
        close = content.find(content[at], at + 1)
        return content[at + 1:close if close >= 0 else end]
    return content[at:]


def expected_links(tree):
    """(element, address) of each link, in document order."""
    links = []
    for element in tree.iter():
        if not isinstance(element.tag, str) or not element.tag.startswith(HTML):
            continue
        tag = element.tag[len(HTML):]
        rel = element.get("rel", "").lower().split()
        for name, value in element.attrib.items():
            if (tag, name) not in LINK_ATTRIBUTES:
                continue
            if tag == "link" and ("preconnect" in rel or "dns-prefetch" in rel):
                continue
            addresses = srcset_addresses(value) if name == "srcset" else [value.strip(SPACE)]
            links += [(f"{tag} {name}", address) for address in addresses]
        if tag == "meta" and element.get("http-equiv", "").lower() == "refresh" and "content" in element.attrib:
            address = refresh_address(element.get("content"))
            if address is not None:
                links.append(("meta refresh", address.strip(SPACE)))
    return links


def source_lines(data, encoding):
    text = encoding.codec_info.decode(data, "replace")[0]
    if text.startswith("\ufeff"):
        text = text[1:]
    # As the parser reads it: CR LF and CR are LF, a NUL in a value U+FFFD.
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\0", "\ufffd").split("\n")


def place_fault(lines, link):
    """Why the source at the link's place is not its address as written, or None."""
    line, column, address = link["line"], link["column"], link["address"]
    if not 1 <= line <= len(lines) or column < 1:
        return f"{line}:{column} is outside the file"
    text = "\n".join(lines[line - 1:line + address.count("\n") + 1])[column - 1:]
    if text.startswith(address):
        return None
    # A reference written in the address (&amp;) is not the character it gives.
    if "&" in text[:len(address) + 64]:
        return None
    return f"{line}:{column} reads {text[:len(address) + 10]!r}, not {address!r}"


def our_links(command, paths):
    found = {path: [] for path in paths}
    for i in range(0, len(paths), BATCH):
        run = subprocess.run(command + paths[i:i + BATCH], capture_output=True, text=True, check=False)
        if run.returncode != 0:
            sys.exit(f"{command[0]} failed ({run.returncode}): {run.stderr.strip()}")
        for line in run.stdout.splitlines():
            link = json.loads(line)
            found.setdefault(link["file"], []).append(link)
    return found


def known_disagreements(path):
    known = {}
    if path:
        with open(path, encoding="utf-8") as lines:
            for line in lines:
                file, _, reason = line.partition("#")
                if file.strip():
                    known[file.strip()] = reason.strip()
    return known


def main():
    arguments = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    arguments.add_argument("--folder", default="/usr/share/doc")
    arguments.add_argument("--known", help="a file of known disagreements")
    arguments.add_argument("command", nargs=argparse.REMAINDER)
    options = arguments.parse_args()
    if not options.command:
        arguments.error("the command that prints our links is missing")
    paths = sorted(os.path.join(folder, name) for folder, _, names in os.walk(options.folder) for name in names
                   if name.lower().endswith((".html", ".htm")) and os.path.isfile(os.path.join(folder, name)))
    known = known_disagreements(options.known)
    ours = our_links(options.command, paths)
    passed = failed = links = 0
    for path in paths:
        with open(path, "rb") as file:
            data = file.read()
        parser = html5lib.HTMLParser(namespaceHTMLElements=True)
        tree = parser.parse(data, default_encoding="utf-8", useChardet=False)
        expected = expected_links(tree)
        got = ours.get(path, [])
        links += len(got)
        faults = []
        pairs = [(link["element"], link["address"]) for link in got]
        if pairs != expected:
            at = next((i for i, (a, b) in enumerate(zip(pairs, expected)) if a != b), min(len(pairs), len(expected)))
            faults.append(f"link {at + 1} of {len(pairs)} (html5lib: {len(expected)}): ours "
                          f"{pairs[at] if at < len(pairs) else None}, html5lib's {expected[at] if at < len(expected) else None}")
        lines = source_lines(data, parser.tokenizer.stream.charEncoding[0])
        faults += [fault for fault in (place_fault(lines, link) for link in got) if fault][:3]
        if not faults:
            passed += 1
        elif path in known:
            passed += 1
            print(f"{path}: known: {known[path]}")
        else:
            failed += 1
            print(f"{path}:\n  " + "\n  ".join(faults))
    print(f"{len(paths)} files, {links} links")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
