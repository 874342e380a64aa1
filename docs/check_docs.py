#!/usr/bin/env python3
"""Checks that the documentation says what the library does and stays whole.

- Every message of the library's message table (src/**/messages.h) appears in
  the troubleshooting page, in a table row with an English rendering, and its
  readable form in the table matches the GBK bytes the library uses.
- Every Chinese message of the error log's table has its English rendering
  in the table the tool shows them from (include/KVD4093_messages_english.h),
  word for word as the page gives it, and that table holds no other.
- Every message the reference shows through a Doxygen alias is one of them.
- Every example program is built and run by the tests, named by an \\example
  block, and every snippet the pages cut from one has its two markers.
- With doxygen (--doxygen): the reference builds without a warning, and it
  fails when a declaration loses its doc comment or a parameter its \\param.

Run from anywhere; prints one line per check and "N passed, N failed".
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCS = os.path.join(ROOT, "docs")

results = []


def check(ok, what):
    results.append(bool(ok))
    print(("ok    " if ok else "FAIL  ") + what)
    return ok


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


# ---- the message table ------------------------------------------------------

CONSTANT = re.compile(r'inline\s+constexpr\s+char\s+(k\w+)\[\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);')
READABLE = re.compile(r'^//\s*"(.*)"')


def literal_bytes(literal):
    """The bytes of adjacent C string literals with octal, hex and simple escapes."""
    out = bytearray()
    simple = {"n": 10, "r": 13, "t": 9, "0": 0, "\\": 92, '"': 34, "'": 39}
    for part in re.findall(r'"((?:[^"\\]|\\.)*)"', literal):
        i = 0
        while i < len(part):
            c = part[i]
            if c != "\\":
                out += c.encode("utf-8")
                i += 1
                continue
            nxt = part[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]+", part[i + 2:])
                out.append(int(m.group(0), 16) & 0xFF)
                i += 2 + len(m.group(0))
            elif nxt in "01234567":
                m = re.match(r"[0-7]{1,3}", part[i + 1:])
                out.append(int(m.group(0), 8) & 0xFF)
                i += 1 + len(m.group(0))
            else:
                out.append(simple[nxt])
                i += 2
    return bytes(out)


def unescape_readable(text):
    """The readable form of a comment as the bytes' text: \\r, \\n and \\\\ escaped, the rest literal."""
    return re.sub(r"\\([rn\\])", lambda m: {"r": "\r", "n": "\n", "\\": "\\"}[m.group(1)], text)


def messages(path):
    """(name, readable form as written, decoded text) of every constant with a quoted comment above it."""
    lines = read(path).splitlines()
    found = []
    for m in CONSTANT.finditer("\n".join(lines)):
        line_number = "\n".join(lines)[: m.start()].count("\n")
        comment = READABLE.match(lines[line_number - 1].strip()) if line_number > 0 else None
        if comment:
            found.append((m.group(1), comment.group(1), literal_bytes(m.group(2)).decode("gbk")))
    return found


def table_rows(page):
    return [line for line in page.splitlines() if line.startswith("|")]


def cells(row):
    return [cell.strip() for cell in row.strip().strip("|").split("|")]


def has_cjk(text):
    return any("\u3000" <= ch <= "\u9fff" or "\uff00" <= ch <= "\uffef" for ch in text)


def check_messages():
    tables = sorted(glob.glob(os.path.join(ROOT, "src", "**", "messages.h"), recursive=True))
    if not check(tables, "the message table is found as src/**/messages.h"):
        return []
    page = read(os.path.join(DOCS, "troubleshooting.md"))
    rows = table_rows(page)
    shown = []
    for table in tables:
        relative = os.path.relpath(table, ROOT)
        found = messages(table)
        check(len(found) >= 20, f"{relative}: {len(found)} messages with their readable form")
        for name, readable, decoded in found:
            shown.append(decoded)
            check(unescape_readable(readable) == decoded,
                  f"{name}: the readable form in {relative} is the text of its GBK bytes")
            quoted = f'`"{readable}"`'
            row = next((r for r in rows if quoted in r), None)
            if not check(row is not None, f"{name}: {quoted} is in a table of troubleshooting.md"):
                continue
            row_cells = cells(row)
            index = next(i for i, c in enumerate(row_cells) if quoted in c)
            english = row_cells[index + 1] if index + 1 < len(row_cells) else ""
            check(english and not has_cjk(english), f"{name}: its row gives an English rendering")
    return shown


RENDERING = re.compile(r'\{\s*((?:"(?:[^"\\]|\\.)*"\s*)+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\}')


def section(page, anchor):
    """The text of the page's section whose heading carries {#anchor}."""
    start = page.index("{#%s}" % anchor)
    end = page.find("\n## ", start)
    return page[start:] if end < 0 else page[start:end]


def check_english_renderings():
    relative = os.path.join("include", "KVD4093_messages_english.h")
    header = read(os.path.join(ROOT, relative))
    table = {literal_bytes(logged).decode("gbk"): literal_bytes(english).decode("ascii")
             for logged, english in RENDERING.findall(header)}
    check(len(table) >= 10, f"{relative}: {len(table)} English renderings")
    page = read(os.path.join(DOCS, "troubleshooting.md"))
    listed = set()
    for row in table_rows(section(page, "ts-log-messages")):
        row_cells = cells(row)
        quoted = re.fullmatch(r'`"(.*)"`', row_cells[0])
        if not quoted or not has_cjk(quoted.group(1)):
            continue
        message = unescape_readable(quoted.group(1))
        listed.add(message)
        check(table.get(message) == row_cells[1],
              f"{relative} renders \"{quoted.group(1)}\" as the page does: {row_cells[1]!r}")
    for message in sorted(set(table) - listed):
        check(False, f"{relative}: \"{message}\" is no Chinese message of the error log's table")


def check_aliases(shown):
    doxyfile = read(os.path.join(DOCS, "Doxyfile"))
    aliases = re.findall(r'"(msg\w+)=<tt>(.*?)</tt>', doxyfile)
    check(aliases, "the Doxyfile defines the message aliases")
    for name, text in aliases:
        text = text.replace("\\\\", "\\")
        check(text in shown or any(text == s.rstrip("\r\n") for s in shown),
              f"alias {name} shows a message of the table")


# ---- the examples -------------------------------------------------------------

def check_examples():
    examples = sorted(os.path.basename(p) for p in glob.glob(os.path.join(ROOT, "examples", "*.c")))
    built = re.search(r"foreach\(name ([^)]*)\)", read(os.path.join(ROOT, "examples", "CMakeLists.txt")))
    built = built.group(1).split() if built else []
    dox = "".join(read(p) for p in glob.glob(os.path.join(DOCS, "*.dox")))
    pages = {os.path.basename(p): read(p) for p in glob.glob(os.path.join(DOCS, "*.md"))}
    referenced = "".join(pages.values()) + read(os.path.join(ROOT, "include", "KVD4093.h"))
    for example in examples:
        stem = example[:-2]
        check(stem in built, f"{example} is built and run by the tests (examples/CMakeLists.txt)")
        check(re.search(r"\\example\s+" + re.escape(example) + r"\b", dox), f"{example} has an \\example block")
        check(re.search(r"\\(ref|snippet|include)\s+" + re.escape(example) + r"\b", referenced),
              f"{example} is referenced from a page or the reference")
    for page, text in sorted(pages.items()):
        for file, block in re.findall(r"\\snippet\s+(\S+)\s+(.+)", text):
            block = block.strip()
            source = os.path.join(ROOT, "examples", file)
            markers = read(source).count(f"[{block}]") if os.path.exists(source) else 0
            check(markers == 2, f"{page}: snippet '{block}' of {file} has its two markers")


# ---- the doxygen gate ---------------------------------------------------------

def run_doxygen(overrides, output):
    config = read(os.path.join(DOCS, "Doxyfile")) + "\n" + "\n".join(
        f"{key} = {value}" for key, value in {"OUTPUT_DIRECTORY": output, **overrides}.items()) + "\n"
    done = subprocess.run(["doxygen", "-"], input=config, cwd=ROOT, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def doxyfile_inputs():
    text = read(os.path.join(DOCS, "Doxyfile"))
    block = re.search(r"^INPUT\s*=((?:.*\\\n)*.*)$", text, re.M).group(1)
    return block.replace("\\\n", " ").split()


def without_doc_comment(header, declaration):
    """The header with the doc comment right before a declaration removed."""
    at = header.index(declaration)
    start = header.rindex("/**", 0, at)
    return header[:start] + header[at:]


def without_line(header, line_start):
    at = header.index(line_start)
    return header[:at] + header[header.index("\n", at) + 1:]


def check_doxygen():
    with tempfile.TemporaryDirectory(prefix="kvd4093-docs-") as temporary:
        code, output = run_doxygen({}, os.path.join(temporary, "whole"))
        check(code == 0 and "warning" not in output and "error" not in output,
              "the reference builds without a warning" + ("" if code == 0 else ":\n" + output))
        header = read(os.path.join(ROOT, "include", "KVD4093.h"))
        mutants = {
            "a declaration without its doc comment":
                (without_doc_comment(header, "KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDeviceAD("),
                 "Member KVD4093_ReleaseDeviceAD(KVD4093_HANDLE hDevice) (function) of file KVD4093.h is not documented"),
            "a parameter without its \\param":
                (without_line(header, " * \\param nTrigLevel"),
                 "parameter 'nTrigLevel'"),
        }
        for what, (text, expected) in mutants.items():
            folder = os.path.join(temporary, "include")
            os.makedirs(folder, exist_ok=True)
            shutil.copy(os.path.join(ROOT, "include", "KVD4093_posix.h"), folder)
            with open(os.path.join(folder, "KVD4093.h"), "w", encoding="utf-8") as f:
                f.write(text)
            inputs = [os.path.join(folder, os.path.basename(p)) if p.startswith("include/") else p
                      for p in doxyfile_inputs()]
            code, output = run_doxygen({"INPUT": " ".join(inputs), "INCLUDE_PATH": folder},
                                       os.path.join(temporary, "mutant"))
            failing = [line for line in output.splitlines() if expected in line]
            check(code != 0 and failing, f"{what} fails the build" + (f": {failing[0]}" if failing else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--doxygen", action="store_true", help="also run the doxygen gate and its failure cases")
    arguments = parser.parse_args()
    shown = check_messages()
    check_english_renderings()
    check_aliases(shown)
    check_examples()
    if arguments.doxygen:
        check_doxygen()
    failed = results.count(False)
    print(f"docs: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
