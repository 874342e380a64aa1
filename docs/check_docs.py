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
  block and referenced from a page (the Python examples: linked from a page);
  every code block a page cuts from one is the example's code as it stands.
- The pages read as Markdown: no Doxygen command where a reader of the
  Markdown would see it, every page of docs/ rendered by Doxygen too.
- Every link of README.md and docs/*.md reaches a file and, after a '#', a
  heading of it (the anchor a Markdown reader makes from the heading).
- Every environment variable the code reads is named in docs/environment.md,
  and the pages say "card backend" for what the code calls one.
- The README's tour runs as written: its shell blocks one after the other in
  a scratch folder that sees the repository's files, its Python block saved
  as the file they run, with the library and the tool `make demo` built (the
  caller builds them: `make test-docs` does; a missing build is skipped and
  said so), on virtual cards.
- With doxygen (--doxygen): the reference builds without a warning, and it
  fails when a declaration loses its doc comment or a parameter its \\param.

Run from anywhere; prints one line per check and "N passed, N failed".
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap

# The pages' shared reader, beside this file; no __pycache__ left in docs/.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import markdown_pages  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCS = os.path.join(ROOT, "docs")

results = []


def check(ok, what):
    results.append(bool(ok))
    print(("ok    " if ok else "FAIL  ") + what)
    return ok


def skip(what):
    print("skip  " + what)


def pages():
    """Every Markdown page checked, by its path relative to the root."""
    return ["README.md"] + sorted(os.path.relpath(p, ROOT) for p in glob.glob(os.path.join(DOCS, "*.md")))


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
    """The text of the page's section whose heading a reader links as #anchor."""
    title = next(text for _, text, slug in markdown_pages.headings(page) if slug == anchor)
    start = page.index("## " + title + "\n")
    end = page.find("\n## ", start + 1)
    return page[start:] if end < 0 else page[start:end]


def check_english_renderings():
    relative = os.path.join("include", "KVD4093_messages_english.h")
    header = read(os.path.join(ROOT, relative))
    table = {literal_bytes(logged).decode("gbk"): literal_bytes(english).decode("ascii")
             for logged, english in RENDERING.findall(header)}
    check(len(table) >= 10, f"{relative}: {len(table)} English renderings")
    page = read(os.path.join(DOCS, "troubleshooting.md"))
    listed = set()
    for row in table_rows(section(page, "messages-of-the-error-log")):
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

def marked_block(source, block):
    """The lines between the two markers "[block]" of an example, dedented."""
    lines = source.splitlines(keepends=True)
    marks = [i for i, line in enumerate(lines) if f"[{block}]" in line]
    return textwrap.dedent("".join(lines[marks[0] + 1:marks[1]])) if len(marks) == 2 else None


def linked_files(path):
    """Every file a page links to, relative to the root."""
    folder = os.path.dirname(os.path.join(ROOT, path))
    return {os.path.relpath(os.path.normpath(os.path.join(folder, target.partition("#")[0])), ROOT)
            for _, _, target in markdown_pages.links(read(os.path.join(ROOT, path)))
            if target.partition("#")[0] and not re.match(r"^[a-z]+:", target)}


def check_examples():
    examples = sorted(os.path.basename(p) for p in glob.glob(os.path.join(ROOT, "examples", "*.c")))
    built = re.search(r"foreach\(name ([^)]*)\)", read(os.path.join(ROOT, "examples", "CMakeLists.txt")))
    built = built.group(1).split() if built else []
    dox = "".join(read(p) for p in glob.glob(os.path.join(DOCS, "*.dox")))
    header = read(os.path.join(ROOT, "include", "KVD4093.h"))
    linked = set().union(*(linked_files(page) for page in pages()))
    cut = {}
    for page in pages():
        for _, code, mark, _ in markdown_pages.code_blocks(read(os.path.join(ROOT, page))):
            if mark:
                cut.setdefault(mark[0], []).append((page, mark[1], code))
    for example in examples:
        stem = example[:-2]
        check(stem in built, f"{example} is built and run by the tests (examples/CMakeLists.txt)")
        check(re.search(r"\\example\s+" + re.escape(example) + r"\b", dox), f"{example} has an \\example block")
        check(f"examples/{example}" in linked or example in cut
              or re.search(r"\\(ref|snippet|include)\s+" + re.escape(example) + r"\b", header),
              f"{example} is referenced from a page or the reference")
    for example in sorted(glob.glob(os.path.join(ROOT, "python", "examples", "*.py"))):
        relative = os.path.relpath(example, ROOT)
        check(relative in linked, f"{relative} is linked from a page")
    for file, blocks in sorted(cut.items()):
        source = os.path.join(ROOT, "examples", file)
        text = read(source) if os.path.exists(source) else ""
        for page, block, code in blocks:
            expected = marked_block(text, block)
            if check(expected is not None, f"{page}: snippet '{block}' of {file} has its two markers"):
                check(code == expected, f"{page}: the code of snippet '{block}' is that of {file}")


# ---- the pages as Markdown ------------------------------------------------------

DOXYGEN_ONLY = re.compile(r"\\(ref|snippet|include|page|section|subsection)\b|^\[TOC\]|^#+ .*\{#[\w-]+\}\s*$")


def broken_tables(text):
    """The first line of every run of table rows that does not start with a
    header and its separator row: a table split by a paragraph in its middle."""
    broken, run = [], []
    for number, line in list(markdown_pages.prose_lines(text)) + [(0, "")]:
        if line.startswith("|"):
            run.append((number, line))
            continue
        if run and not (len(run) >= 2 and re.fullmatch(r"\|(\s*:?-+:?\s*\|)+\s*", run[1][1])):
            broken.append(f"{run[0][0]}: {run[0][1][:60]}")
        run = []
    return broken


def check_markdown():
    inputs = doxyfile_inputs()
    for page in pages():
        text = read(os.path.join(ROOT, page))
        shown = [f"{number}: {line.strip()}" for number, line in markdown_pages.prose_lines(text)
                 if DOXYGEN_ONLY.search(markdown_pages.without_code_spans(line))]
        check(not shown, f"{page}: no Doxygen command where a reader of the Markdown sees it"
              + ("" if not shown else ":\n      " + "\n      ".join(shown)))
        broken = broken_tables(text)
        check(not broken, f"{page}: every table has its header and separator rows"
              + "".join("\n      " + line for line in broken))
        if page.startswith("docs/"):
            check(page in inputs, f"{page} is rendered by Doxygen too (INPUT of docs/Doxyfile)")


def own_text_files():
    """The tree's own text files, by their path relative to the root: not the
    build's, nor git's, nor this checker's own."""
    for folder, subfolders, files in os.walk(ROOT):
        subfolders[:] = [f for f in subfolders if f not in ("build", ".git", "__pycache__")]
        for name in files:
            path = os.path.join(folder, name)
            if path != os.path.abspath(__file__):
                yield os.path.relpath(path, ROOT)


def check_backend_word():
    """A card backend is called so in every text of the tree, never a 'road'."""
    found = []
    for path in own_text_files():
        try:
            text = read(os.path.join(ROOT, path))
        except (UnicodeDecodeError, OSError):
            continue
        found += [f"{path}:{number}: {line.strip()}" for number, line in enumerate(text.splitlines(), 1)
                  if re.search(r"\broads?\b", line, re.I)]
    check(not found, "the tree says 'card backend', not 'road'" + "".join("\n      " + w for w in found))


def unreachable(page):
    """Every link of a page whose file or heading is not there."""
    path = os.path.join(ROOT, page)
    found = markdown_pages.links(read(path))
    wrong = []
    for number, _, target in found:
        if re.match(r"^[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        destination = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(destination):
            wrong.append(f"{number}: {target}: no such file")
        elif anchor and anchor not in (markdown_pages.anchors(read(destination))
                                       if destination.endswith(".md") else set()):
            wrong.append(f"{number}: {target}: no such heading")
    return len(found), wrong


def check_links():
    for page in pages():
        count, wrong = unreachable(page)
        check(not wrong, f"{page}: its links ({count}) reach their files and headings"
              + "".join("\n      " + w for w in wrong))


# ---- the environment variables ---------------------------------------------------

READS = [
    re.compile(r"(?:getenv|environmentVariable|GetEnvironmentVariableA)\(\s*\"([A-Z][A-Z0-9_]*)\""),
    re.compile(r"constexpr\s+char\s+k\w*(?:Variable|Switch)\[\]\s*=\s*\"([A-Z][A-Z0-9_]*)\""),
    re.compile(r"\b[A-Z_]*VARIABLE\s*=\s*[\"']([A-Z][A-Z0-9_]*)[\"']"),
    re.compile(r"os\.environ(?:\.get\(|\.setdefault\(|\[)\s*[\"']([A-Z][A-Z0-9_]*)[\"']"),
    re.compile(r"(?:\$|DEFINED\s+)ENV\{([A-Z][A-Z0-9_]*)\}"),
]
# A loop over names read one after the other: for (const char *v : {"A", "B"}).
NAME_LOOP = re.compile(r"for\s*\([^:;]*:\s*\{((?:\s*\"[A-Z][A-Z0-9_]*\"\s*,?)+)\}\)")


def variables_read():
    """{name: first file that reads it} over the code, the build and the tests."""
    found = {}
    patterns = ["src/**/*", "common/**/*", "tools/**/*", "testcards/**/*", "tests/**/*", "bench/**/*", "python/**/*.py",
                "cmake/**/*.cmake", "CMakeLists.txt"]
    for pattern in patterns:
        for path in sorted(glob.glob(os.path.join(ROOT, pattern), recursive=True)):
            if not os.path.isfile(path) or not re.search(r"\.(cpp|h|c|py|cmake|txt)$", path):
                continue
            text = read(path)
            names = [m.group(1) for regex in READS for m in regex.finditer(text)]
            if "getenv" in text or "environmentVariable" in text:
                for loop in NAME_LOOP.finditer(text):
                    names += re.findall(r"\"([A-Z][A-Z0-9_]*)\"", loop.group(1))
            for name in names:
                found.setdefault(name, os.path.relpath(path, ROOT))
    makefile = read(os.path.join(ROOT, "Makefile"))
    for name in re.findall(r"^([A-Z][A-Z0-9_]*)\s*\?=", makefile, re.M):
        found.setdefault(name, "Makefile")
    return found


def check_environment():
    page = read(os.path.join(DOCS, "environment.md"))
    found = variables_read()
    check(len(found) >= 10, f"{len(found)} environment variables found in the code")
    for name, where in sorted(found.items()):
        check(f"`{name}`" in page, f"{name} (read in {where}) is in docs/environment.md")


# ---- the README's tour ---------------------------------------------------------

TOUR = "A short tour"
# What the library and `make demo` write in the current folder (.gitignore).
RUN_OUTPUTS = {"KVD4093Err.log", "demo.csv", "demo.svg"}


def scratch_folder(folder, python):
    """A folder that sees the repository's files under their own names, with
    `python3` on PATH meaning the interpreter given. Files that programs write
    where they run (the error log, the demo's output) are not linked: the
    tour's programs would write through the link into the checkout."""
    for entry in os.listdir(ROOT):
        written_where_run = os.path.isfile(os.path.join(ROOT, entry)) and entry in RUN_OUTPUTS
        if not entry.startswith(".") and not written_where_run:
            os.symlink(os.path.join(ROOT, entry), os.path.join(folder, entry))
    tools = os.path.join(folder, ".bin")
    os.makedirs(tools)
    os.symlink(python, os.path.join(tools, "python3"))
    environment = {k: v for k, v in os.environ.items() if not k.startswith("KVD4093")}
    environment.update(PATH=tools + os.pathsep + os.environ.get("PATH", ""), HOME=os.path.join(folder, ".home"),
                       XDG_CONFIG_HOME=os.path.join(folder, ".config"), PYTHONDONTWRITEBYTECODE="1")
    return environment


def run_block(code, folder, environment, seconds=120):
    """(status, output) of a shell block; a block still running after the
    time given is killed with everything it started."""
    process = subprocess.Popen(["bash", "-euo", "pipefail", "-c", code], cwd=folder, env=environment,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               start_new_session=True)
    try:
        output, _ = process.communicate(timeout=seconds)
        return (0 if process.returncode == 0 else f"exit status {process.returncode}"), output
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return f"still running after {seconds} s", output


def check_tour(python):
    blocks = [(language, code) for language, code, _, section in
              markdown_pages.code_blocks(read(os.path.join(ROOT, "README.md"))) if section == TOUR]
    shell = [code for language, code in blocks if language == "sh"]
    scripts = [code for language, code in blocks if language == "python"]
    if not check(shell, f"README.md has its tour ('{TOUR}') with shell blocks"):
        return
    runs = sorted(set(re.findall(r"\bpython3\s+(\S+\.py)", "".join(shell))))
    check(len(runs) == len(scripts), f"README.md: the tour's shell blocks run each of its {len(scripts)} "
          f"Python blocks as a file ({', '.join(runs) or 'none'})")
    needed = sorted(set(re.findall(r"build/[\w./-]*\w", "".join(shell))))
    missing = [path for path in needed if not os.path.exists(os.path.join(ROOT, path))]
    if missing:
        skip(f"the README's tour: {missing[0]} is not built (make demo builds it; make test-docs runs it)")
        return
    interpreter = shutil.which(python) or sys.executable
    has_numpy = subprocess.run([interpreter, "-c", "import numpy"], capture_output=True).returncode == 0
    with tempfile.TemporaryDirectory(prefix="kvd4093-tour-") as folder:
        environment = scratch_folder(folder, interpreter)
        for name, script in zip(runs, scripts):
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write(script)
        for number, code in enumerate(shell, 1):
            what = f"README.md: tour block {number} runs as written ({code.splitlines()[0][:60]}...)"
            if "python3" in code and not has_numpy:
                skip(f"{what}: {interpreter} lacks numpy (python3-numpy; --python chooses the interpreter)")
                continue
            status, output = run_block(code, folder, environment)
            check(status == 0, what + ("" if status == 0 else f": {status}\n{output}"))


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
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[1])
    parser.add_argument("--doxygen", action="store_true", help="also run the doxygen gate and its failure cases")
    parser.add_argument("--python", default=sys.executable,
                        help="the interpreter the tour's python3 means (it needs numpy); default: this one")
    arguments = parser.parse_args()
    shown = check_messages()
    check_english_renderings()
    check_aliases(shown)
    check_examples()
    check_markdown()
    check_backend_word()
    check_links()
    check_environment()
    check_tour(arguments.python)
    if arguments.doxygen:
        check_doxygen()
    failed = results.count(False)
    print(f"docs: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
