#!/usr/bin/python3
"""Opens content files with the XML tools people reach for, all namespace-aware: the standard
library's ElementTree, lxml and xmllint. Prints "FILE: N properties" for each file that all
three take, and what went wrong for the others; exits 1 when any file failed.

Usage: open_with_xml_tools.py FILE...

Run it with Debian's /usr/bin/python3, which has lxml (python3-lxml); xmllint comes from
libxml2-utils. A missing tool is a failure, not a reason to skip.
"""

import subprocess
import sys
import xml.etree.ElementTree as ElementTree

from lxml import etree

NAMESPACES = {"k": "urn:kestrel-sc:serialized-content"}


def problems_of(path):
    """What the tools found wrong with path, and the number of named properties."""
    try:
        root = ElementTree.parse(path).getroot()
    except ElementTree.ParseError as error:
        return [f"ElementTree: {error}"], 0
    # Array items are properties without a name; only the properties themselves count.
    names = sorted(p.get("name") for p in root.iterfind(".//k:property[@name]", NAMESPACES))

    parser = etree.XMLParser(huge_tree=True)
    try:
        document = etree.parse(path, parser)
    except etree.XMLSyntaxError as error:
        return [f"lxml: {error}"], len(names)
    problems = [f"lxml: {entry}" for entry in parser.error_log]
    found = sorted(document.xpath("//k:property[@name]/@name", namespaces=NAMESPACES))
    if found != names:
        problems.append(f"lxml finds {len(found)} properties, ElementTree {len(names)}")
    for name in set(names):
        if not document.xpath("//k:property[@name=$name]", namespaces=NAMESPACES, name=name):
            problems.append(f"lxml cannot find property {name!r} by name")

    lint = subprocess.run(["xmllint", "--noout", path], capture_output=True, text=True)
    said = (lint.stdout + lint.stderr).strip()
    if lint.returncode != 0 or said:
        problems.append(f"xmllint (status {lint.returncode}): {said}")
    return problems, len(names)


def main(paths):
    if not paths:
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for path in paths:
        problems, count = problems_of(path)
        if problems:
            failed = True
            for problem in problems:
                print(f"{path}: {problem}")
        else:
            print(f"{path}: {count} properties")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
