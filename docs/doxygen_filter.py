#!/usr/bin/env python3
"""Hands a page of docs/ to Doxygen (FILTER_PATTERNS in docs/Doxyfile).

The pages are plain Markdown, read as they are in the repository. Doxygen
wants labels where a reader of the Markdown uses the anchors made from the
headings, so this gives every heading the label "<page>-<anchor>" (the title:
"<page>", which the reference's \\ref uses), adds a table of contents, and
turns links into references Doxygen resolves: a section of a
page, a page, an example program, a public header. A link to any other file
of the repository stays as its text: the rendered reference has no such file.
"""
import os
import re
import sys

# The pages' shared reader, beside this file; no __pycache__ left in docs/.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import markdown_pages  # noqa: E402

DOCS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(DOCS)
HEADERS = {"include/KVD4093.h", "include/KVD4093_posix.h"}
MAIN_PAGE = "index"


def label(page, anchor=None):
    return page if anchor is None else f"{page}-{anchor}"


def reference(page, target):
    """The Doxygen reference a link's target becomes, or None for no link."""
    if re.match(r"^[a-z]+:", target):
        return target
    path, _, anchor = target.partition("#")
    if not path:
        return "@ref " + label(page, anchor)
    resolved = os.path.relpath(os.path.normpath(os.path.join(DOCS, path)), ROOT).replace(os.sep, "/")
    if resolved.startswith("docs/") and resolved.endswith(".md"):
        return "@ref " + label(resolved[5:-3], anchor or None)
    if re.fullmatch(r"examples/\w+\.c", resolved) or resolved in HEADERS:
        return "@ref " + os.path.basename(resolved)
    return None


def rewrite_links(page, line):
    blanked = markdown_pages.without_code_spans(line)
    out, at = [], 0
    for match in markdown_pages.LINK.finditer(blanked):
        text = line[match.start(2):match.end(2)]
        target = reference(page, line[match.start(3):match.end(3)])
        out.append(line[at:match.start()])
        out.append(text if target is None or match.group(1) else f"[{text}]({target})")
        at = match.end()
    return "".join(out) + line[at:]


def filtered(page, text):
    anchors = iter(markdown_pages.headings(text))
    prose = {number for number, _ in markdown_pages.prose_lines(text)}
    has_sections = any(level == 2 for level, _, _ in markdown_pages.headings(text))
    out = []
    for number, line in enumerate(text.splitlines(), 1):
        heading = markdown_pages.HEADING.match(line) if number in prose else None
        if heading:
            level, _, anchor = next(anchors)
            if level > 1:
                out.append(f"{line} {{#{label(page, anchor)}}}")
            else:  # the main page is "index" already
                out.append(line if page == MAIN_PAGE else f"{line} {{#{label(page)}}}")
        else:
            out.append(rewrite_links(page, line) if number in prose else line)
    # At the end, so that Doxygen's line numbers stay those of the page; the
    # table shows at the top all the same.
    if has_sections:
        out += ["", "@tableofcontents"]
    return "\n".join(out) + "\n"


def main():
    path = sys.argv[1]
    with open(path, encoding="utf-8") as f:
        text = f.read()
    page = os.path.splitext(os.path.basename(path))[0]
    sys.stdout.write(filtered(page, text))


if __name__ == "__main__":
    main()
