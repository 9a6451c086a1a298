#!/usr/bin/python3
"""Holds our Markdown links to cmark-gfm's own reading of the same files.

For every .md file under the folders given (default /usr/share/doc), runs
Debian's `cmark-gfm --sourcepos -t xml` with the extensions we attach and
compares its links and images with ours, which a command prints as JSON
lines, one a link:
  {"file": PATH, "line": N, "column": N, "address": "...", "element": "link"}
For each file:

- the addresses agree, in order;
- the source at our place reads as the address (escapes and character
  references decoded), or, for a reference link, opens the link with "[" or
  "![";
- our place lies inside the span cmark-gfm gives the link, where that span
  is usable. Known faults of cmark-gfm 0.29's spans, counted, not failed:
  a start that is not on the link at all (<autolinks>, the autolink
  extension's links, links on a later line of a block indented unlike its
  first); the lines of a block that began with link reference definitions,
  counted as if they were its text's; and the end of a link that spans
  lines, put on its first line (our place must then be inside the block).

Prints a line per file that disagrees, the links counted by how their
places were held to cmark-gfm's, then "N passed, M failed" (files); exits 1
on any disagreement.

  markdown_links.py [--folder DIR|FILE]... COMMAND [ARGUMENT...]

The files' paths are put after the command's arguments, fifty at a time.
"""
import argparse
import collections
import html
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = "{http://commonmark.org/xml/1.0}"
EXTENSIONS = ["autolink", "table", "strikethrough"]
OUR_ELEMENTS = {"link", "image", "autolink"}
ESCAPE = re.compile(r"\\([!-/:-@\[-`{-~])")


def markdown_files(paths):
    for path in paths:
        if os.path.isfile(path):
            yield os.path.realpath(path)
            continue
        for folder, _, names in os.walk(path):
            for name in sorted(names):
                if name.endswith(".md") and os.path.isfile(os.path.join(folder, name)):
                    yield os.path.realpath(os.path.join(folder, name))


def source_lines(path):
    text = open(path, "rb").read().decode("utf-8", "replace").replace("\0", "\ufffd")
    if text.startswith("\ufeff"):
        text = text[1:]
    return re.split(r"\r\n|\r|\n", text)


def cmark_links(path):
    """cmark-gfm's links and images in document order: (address, sourcepos or None)."""
    command = ["cmark-gfm", "--sourcepos", "-t", "xml"]
    for extension in EXTENSIONS:
        command += ["-e", extension]
    root = ET.fromstring(subprocess.run(command + [path], capture_output=True, check=True).stdout)
    links = []

    def span_of(node):
        if not node.get("sourcepos"):
            return None
        start, end = node.get("sourcepos").split("-")
        return tuple(map(int, start.split(":"))) + tuple(map(int, end.split(":")))

    def walk(node, in_image, block):
        tag = node.tag.replace(NS, "")
        if tag in ("paragraph", "heading", "table_cell"):
            block = span_of(node)
        if tag in ("link", "image") and not in_image:
            children = list(node)
            text = children[0].text if len(children) == 1 and children[0].tag == NS + "text" else None
            links.append((node.get("destination", ""), span_of(node), text, block, tag))
        # An image's alternative text is text on the page, its links none.
        for child in node:
            walk(child, in_image or tag == "image", block)

    walk(root, False, None)
    return links


def our_links(command, files):
    found = {path: [] for path in files}
    output = subprocess.run(command + files, capture_output=True, text=True).stdout
    for line in output.splitlines():
        try:
            link = json.loads(line)
        except ValueError:
            continue
        path = os.path.realpath(link.get("file", ""))
        if path in found and link.get("element") in OUR_ELEMENTS:
            found[path].append(link)
    return found


def decoded(text):
    return html.unescape(ESCAPE.sub(r"\1", text))


def reads_as_address(rest, address):
    """Whether the source from our place spells the address: as written, or
    with cmark-gfm's "mailto:" or "http://" before a bare one; an empty one
    ends where it starts."""
    if not address:
        return rest.startswith((")", ">", " ", "\t")) or not rest
    spelt = decoded(rest)
    return any(
        spelt.startswith(form) or rest.startswith(form)
        for form in (address, address.removeprefix("mailto:"), address.removeprefix("http://"))
        if form
    )


DEFINITION = re.compile(r"^[ \t>]*\[[^\]]*\]:")


def unusable_span(lines, tag, address, span, text, block):
    """Why cmark-gfm's span of a link is not where the link is, if it is not."""
    if block is not None and 1 <= block[0] <= len(lines) and DEFINITION.match(lines[block[0] - 1]):
        return "cmark-gfm's lines counting a block's link reference definitions"
    if span is None or not 1 <= span[0] <= len(lines):
        return "cmark-gfm's start not on the link"
    if span[2] != 0 and span[2:] < span[:2]:
        return "cmark-gfm's end before its start"
    line = lines[span[0] - 1].encode("utf-8")
    start = line[span[1] - 1 :].decode("utf-8", "replace")
    end = line[span[3] - 1 : span[3]].decode("utf-8", "replace") if span[2] == span[0] and span[3] > 0 else None
    if start.startswith(openings(tag, address, text)) and end in (None, "]", ")", ">", (text or "]")[-1:]):
        return None
    return "cmark-gfm's start not on the link"


def openings(tag, address, text):
    """How a link can start: an autolink (its only text its address, less a
    "mailto:" or "http://") with "<" and that text or the text alone, any
    other with a "["."""
    if tag == "image":
        return ("![",)
    if text and address in (text, "mailto:" + text, "http://" + text):
        return ("[", "<" + text, text)
    return ("[",)


def within(lines, place, start, end):
    """Whether a place (a column in characters) is inside a span of byte columns."""
    line, column = place
    byte = len(lines[line - 1][: column - 1].encode("utf-8")) + 1
    return start <= (line, byte) and (end[0] == 0 or (line, byte) <= (end[0], max(end[1], 1)))


def compare(path, ours, theirs, figures):
    lines = source_lines(path)
    problems = []
    if [link["address"] for link in ours] != [link[0] for link in theirs]:
        problems.append(
            "addresses differ: ours %s, cmark-gfm's %s" % ([link["address"] for link in ours], [link[0] for link in theirs])
        )
        return problems
    for link, (address, span, text, block, tag) in zip(ours, theirs):
        place = (link["line"], link["column"])
        if not 1 <= place[0] <= len(lines) or place[1] < 1:
            problems.append("%d:%d %s: no such place" % (place + (address,)))
            continue
        rest = lines[place[0] - 1][place[1] - 1 :]
        opens_reference = link["element"] in ("link", "image") and rest.startswith(("[", "!["))
        if not opens_reference and not reads_as_address(rest, address):
            problems.append("%d:%d %s: the source there reads %r" % (place + (address, rest[:40])))
            continue
        unusable = unusable_span(lines, tag, address, span, text, block)
        if unusable:
            figures[unusable] += 1
        elif within(lines, place, span[:2], span[2:]):
            figures["inside cmark-gfm's span"] += 1
        elif place[0] > span[2] and block and within(lines, place, span[:2], block[2:]):
            figures["cmark-gfm's end of a link that spans lines on its first"] += 1
        else:
            problems.append("%d:%d %s: outside cmark-gfm's %s" % (place + (address, span)))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--folder", action="append", help="a folder or file to read (default /usr/share/doc)")
    parser.add_argument("command", nargs=argparse.REMAINDER, help="prints our links as JSON lines for the files after it")
    arguments = parser.parse_args()
    if not arguments.command:
        parser.error("no command")

    files = list(markdown_files(arguments.folder or ["/usr/share/doc"]))
    figures = collections.Counter()
    passed = failed = 0
    for batch in range(0, len(files), 50):
        chunk = files[batch : batch + 50]
        ours = our_links(arguments.command, chunk)
        for path in chunk:
            try:
                theirs = cmark_links(path)
            except (subprocess.CalledProcessError, ET.ParseError) as error:
                print("%s: cmark-gfm cannot be read: %s" % (path, error))
                failed += 1
                continue
            problems = compare(path, ours[path], theirs, figures)
            if problems:
                failed += 1
                print(path)
                for problem in problems[:10]:
                    print("  " + problem)
            else:
                passed += 1
    for what, count in figures.most_common():
        print("%8d links: %s" % (count, what))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
