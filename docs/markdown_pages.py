"""The pieces of a Markdown page that the docs check and the Doxygen filter read.

The pages are written for a reader of the Markdown (a repository browser, an
editor): headings carry no labels of their own, and a link to a section uses
the anchor such a reader makes from the heading's text (its "slug"). Doxygen
gets the same anchors through docs/doxygen_filter.py.
"""
import re

FENCE = re.compile(r"^\s*(```|~~~)\s*([\w+-]*)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
LINK = re.compile(r"(!?)\[((?:[^\[\]]|\[[^\]]*\])*)\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
SNIPPET_MARK = re.compile(r"^<!--\s*snippet\s+(\S+)\s+(.+?)\s*-->\s*$")


def slug(text):
    """The anchor a Markdown reader makes from a heading: its visible text in
    lower case, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = text.replace("`", "").replace("*", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def prose_lines(text):
    """(line number, line) of every line outside fenced code blocks."""
    inside = None
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if fence and (inside is None or fence.group(1) == inside):
            inside = None if inside else fence.group(1)
            continue
        if inside is None:
            yield number, line


def headings(text):
    """(level, text, anchor) of every heading, anchors made unique as a reader
    makes them: a repeated one gains -1, -2, ..."""
    seen = {}
    found = []
    for _, line in prose_lines(text):
        match = HEADING.match(line)
        if not match:
            continue
        anchor = slug(match.group(2))
        count = seen.get(anchor, 0)
        seen[anchor] = count + 1
        found.append((len(match.group(1)), match.group(2), anchor if count == 0 else f"{anchor}-{count}"))
    return found


def anchors(text):
    """Every anchor a page offers: its headings' and its explicit <a id="...">."""
    explicit = re.findall(r'<a\s+(?:id|name)="([^"]+)"', text)
    return {anchor for _, _, anchor in headings(text)} | set(explicit)


def without_code_spans(line):
    """The line with the inside of its code spans blanked (same length)."""
    return CODE_SPAN.sub(lambda m: m.group(1) + " " * len(m.group(2)) + m.group(1), line)


def links(text):
    """(line number, link text, target) of every link outside code."""
    found = []
    for number, line in prose_lines(text):
        blanked = without_code_spans(line)
        for match in LINK.finditer(blanked):
            found.append((number, line[match.start(2):match.end(2)], line[match.start(3):match.end(3)]))
    return found


def code_blocks(text):
    """(language, code, snippet mark or None, section heading) of every fenced
    block. A mark is the comment `<!-- snippet FILE BLOCK -->` on the line
    before the fence, which says the block is cut from an example program."""
    blocks = []
    lines = text.splitlines()
    section = ""
    i = 0
    while i < len(lines):
        heading = HEADING.match(lines[i])
        if heading:
            section = heading.group(2)
        fence = FENCE.match(lines[i])
        if not fence:
            i += 1
            continue
        end = i + 1
        while end < len(lines) and not lines[end].strip().startswith(fence.group(1)):
            end += 1
        mark = SNIPPET_MARK.match(lines[i - 1]) if i > 0 else None
        blocks.append((fence.group(2), "\n".join(lines[i + 1:end]) + "\n",
                       (mark.group(1), mark.group(2)) if mark else None, section))
        i = end + 1
    return blocks
