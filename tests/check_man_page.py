#!/usr/bin/env python3
"""Checks the manual page: groff and man render it without a warning, it has the sections a
reader looks for, and it quotes every console text the tool prints, exactly.

usage: check_man_page.py PAGE SOURCE_FOLDER
"""
import os
import re
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "DIAGNOSTICS", "EXIT STATUS", "FILES", "EXAMPLES",
            "SEE ALSO"]
# A console text: the pieces handed to say(), which prints for the console output; a piece that
# is no string literal stands for a value.
SAY_CALL = re.compile(r'\bsay\(\w+,((?:"(?:[^"\\]|\\.)*"|[^;"])*)\);')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
PLACEHOLDER = re.compile(r"%s")


def run(command, page):
    # man-db's sandbox cannot start in some containers; the page needs no protection from it.
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MAN_DISABLE_SECCOMP="1")
    with open(page, "rb") as source:
        return subprocess.run(command, stdin=source, capture_output=True, env=env)


def console_texts(source_folder):
    for folder, _, files in os.walk(source_folder):
        for name in files:
            if name.endswith(".cc") and not name.endswith("_test.cc"):
                with open(os.path.join(folder, name), encoding="utf-8") as source:
                    for pieces in SAY_CALL.findall(source.read()):
                        text = "".join(
                            LITERAL.sub(r"\1", piece) if LITERAL.fullmatch(piece) else "%s"
                            for piece in re.split(r'("(?:[^"\\]|\\.)*"|\s*,\s*)', pieces)
                            if piece.strip(" \n,"))
                        yield from text.encode().decode("unicode_escape").split("\n")


def main(page, source_folder):
    problems = []
    for command in (["groff", "-ww", "-z", "-man"], ["man", "--warnings", "-l", "-"]):
        checked = run(command, page)
        if checked.returncode or checked.stderr:
            problems.append(" ".join(command[:2]) + ": " + checked.stderr.decode())
    # One long line with no hyphenation, so that no text is broken where the page is filled.
    flat = run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=400n", "-rHY=0"], page)
    rendered = flat.stdout.decode("ascii", "replace")
    problems += [f"no section {name}" for name in SECTIONS
                 if not re.search(rf"^{name}$", rendered, re.M)]
    for text in map(str.rstrip, console_texts(source_folder)):
        pattern = r"\S+".join(re.escape(part) for part in PLACEHOLDER.split(text))
        if re.search("[A-Za-z]", text) and not re.search(pattern, rendered):
            problems.append(f"does not quote {text!r}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
