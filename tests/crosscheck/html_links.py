#!/usr/bin/python3
"""Holds the HTML link reader to html5lib, another reading of HTML5.

For every .html/.htm file under a folder (default /usr/share/doc), the links
html5lib's tree gives by the same rules must be the ones, in the same order,
that a command prints as JSON lines, one a link:
  {"file": PATH, "line": N, "column": N, "address": "...", "element": "a href"}
and the source text at each line and column, up to the end of the attribute's
value (its closing quote, or the space after an unquoted one), its character
references read, must be the address (for a srcset, the candidate's address
and its descriptors; for a refresh, the address and a closing quote).

  html_links.py [--folder DIR] [--known FILE] COMMAND [ARGUMENT...]

The files' paths are put after the command's arguments, some hundred at a
time. A file of known disagreements holds one path a line with its reason
after a '#'; such a file is reported but does not fail. The last line says
"N passed, M failed" (files agreeing and not); the exit status is 1 when any
file failed.
"""
import argparse
import html
import html.entities
import json
import re
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
CHARACTER_REFERENCE = re.compile(r"&(#[0-9]+;?|#[xX][0-9a-fA-F]+;?|[A-Za-z][A-Za-z0-9]*;?)")


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


def unescaped(value):
    """An attribute value with its character references read as HTML reads them in one: as
    html.unescape does, but for a name without its ';' before a letter, a digit or '='."""
    def reference(match):
        written = match.group(1)
        if written.startswith("#") or (written.endswith(";") and written in html.entities.html5):
            return html.unescape(match.group(0))
        for end in range(len(written), 0, -1):
            if written[:end] in html.entities.html5:
                after = written[end:end + 1] or value[match.end():match.end() + 1]
                if after and (after.isalnum() or after == "="):
                    return match.group(0)
                return html.entities.html5[written[:end]] + written[end:]
        return match.group(0)
    return CHARACTER_REFERENCE.sub(reference, value)


def value_end(text, at):
    """Where the attribute value that holds the offset ends: at its closing quote, or at the
    space or '>' after an unquoted one."""
    back = at - 1
    while back >= 0 and text[back] not in "\"'<>":
        back -= 1
    before = back - 1
    while before >= 0 and text[before] in SPACE:
        before -= 1
    if back >= 0 and text[back] in "\"'" and before >= 0 and text[before] == "=":
        end = text.find(text[back], at)
        return len(text) if end < 0 else end
    end = at
    while end < len(text) and text[end] not in SPACE + ">":
        end += 1
    return end


def place_fault(text, line_starts, link):
    """Why the source from the link's place is not its address as written, or None: the
    value from there, its references read, is the address (and what may follow it: a srcset
    candidate's descriptors, a refresh's closing quote, white space)."""
    line, column, address = link["line"], link["column"], link["address"]
    if not 1 <= line <= len(line_starts) or column < 1:
        return f"{line}:{column} is outside the file"
    at = line_starts[line - 1] + column - 1
    if at > len(text) or (line < len(line_starts) and at >= line_starts[line]):
        return f"{line}:{column} is past the end of its line"
    value = unescaped(text[at:value_end(text, at)])
    first = value[:1]
    if not address:
        # A value of nothing, or none: the place is its closing quote, or the attribute's name.
        name = link["element"].split()[-1]
        agrees = value.strip(SPACE) == "" or text[at:at + len(name)].lower() == name
    elif link["element"].endswith(" srcset"):
        agrees = first not in SPACE + "," and srcset_addresses(value)[:1] == [address]
    elif link["element"] == "meta refresh":
        opening = text[at - 1:at] if at > 0 else ""
        rest = value[len(address):]
        agrees = value.startswith(address) and (rest.strip(SPACE) == "" or (opening != "" and opening in "\"'"
                                                                            and rest[:1] == opening))
    else:
        agrees = first not in SPACE and value.rstrip(SPACE) == address
    if agrees:
        return None
    return f"{line}:{column} reads {value[:len(address) + 10]!r}, not {address!r}"


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
        text = "\n".join(lines)
        line_starts = [0]
        for source_line in lines[:-1]:
            line_starts.append(line_starts[-1] + len(source_line) + 1)
        faults += [fault for fault in (place_fault(text, line_starts, link) for link in got) if fault][:3]
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
