#!/usr/bin/env python3
"""Runs the real tool on the simulated device through pipes and compares, byte for byte, what it
printed, the bytes the device received and its exit status with the cases in .test files.

A .test file holds cases. Each starts with a line "=== title"; lines before its first section
are comments. Sections start with "--- name":
  stdin            what is typed; a line break ends every line
  stdout           exactly what the tool prints
  stderr           lines that must each appear somewhere in what it writes to standard error
  device           decimal byte values the device must receive (none when the section is absent)
  exit             the exit status (0 when absent)
  env              NAME=value lines for the simulated device
  file NAME        a file in the case's working folder, as decimal byte values
  dir NAME         a folder in the case's working folder
  without driver   the simulated device is not on the loader's path; the --no-driver-dir
                   folder is, when given, to hide the system's own libraries as well
  libraries NAME   the build's folder NAME (beside the simulated device's) is on the loader's
                   path instead of the simulated device; without NAME nothing is, so the
                   system's own libraries answer
In stdin, stdout and file names, {banner}, {menu}, {load} and {entry} stand for the tool's texts, {nul} for
a NUL byte and {x*N} for a character repeated N times. A line made only of these adds no line
break of its own. In device and file sections, B*N stands for the byte B repeated N times.
Whatever the case, every successful open of the device must be closed, and no write may come
outside an open device.
"""
import argparse
import difflib
import os
import re
import subprocess
import sys
import tempfile

TEXTS = {
    "banner": "****************\n*Brevinmarquest*\n****************\n\n",
    "menu": "\nMAIN MENU\n\n   [L]oad .bit to USB\n   [H]and enter bytes to send to USB\n"
            "   [Q]uit\n\n",
    "load": "\nLOAD BIT FILE\n\n   [C]ancel\n   (anything else to load)\n"
            "    Filename To Read (INCLUDE extension): ",
    "entry": "Enter a number between 0 and 255 (Q to quit): ",
    "nul": "\0",
}
PLACEHOLDER = re.compile(r"\{([a-z]+|.\*\d+)\}")
ONLY_PLACEHOLDERS = re.compile(r"^(\{([a-z]+|.\*\d+)\})+$")


def expand(match):
    name = match.group(1)
    if "*" in name and name not in TEXTS:
        return name[0] * int(name[2:])
    return TEXTS[name]


def expand_text(lines):
    return "".join(PLACEHOLDER.sub(expand, line) + ("" if ONLY_PLACEHOLDERS.match(line) else "\n")
                   for line in lines)


def byte_values(lines):
    values = bytearray()
    for word in " ".join(lines).split():
        value, _, count = word.partition("*")
        values += bytes([int(value)]) * int(count or 1)
    return bytes(values)


def parse(path):
    cases, case, section = [], None, None
    with open(path, encoding="utf-8") as source:
        for line in source.read().split("\n"):
            if line.startswith("=== "):
                case = {"title": line[4:], "sections": {}}
                cases.append(case)
                section = None
            elif line.startswith("--- ") and case is not None:
                section = case["sections"].setdefault(line[4:].strip(), [])
            elif section is not None:
                section.append(line)
    for case in cases:
        for lines in case["sections"].values():
            while lines and lines[-1] == "":
                lines.pop()
    return cases


def device_calls_are_paired(log):
    is_open = False
    for call in log.splitlines():
        if "while closed" in call:
            return f"'{call}'"
        if call.startswith("open ") and not call.endswith(" failed"):
            if is_open:
                return "opened again while open"
            is_open = True
        elif call == "close":
            is_open = False
    return "left open at the end" if is_open else None


def run_case(case, args):
    sections = case["sections"]
    with tempfile.TemporaryDirectory() as folder:
        for name, lines in sections.items():
            if name.startswith("file "):
                with open(os.path.join(folder, PLACEHOLDER.sub(expand, name[5:])), "wb") as out:
                    out.write(byte_values(lines))
            elif name.startswith("dir "):
                os.mkdir(os.path.join(folder, name[4:]))
        received, log = os.path.join(folder, ".received"), os.path.join(folder, ".calls")
        env = dict(os.environ, BREVINMARQUEST_SIM_RECEIVED=received, BREVINMARQUEST_SIM_LOG=log)
        env.pop("LD_LIBRARY_PATH", None)
        libraries = [name[10:] for name in sections if name.partition(" ")[0] == "libraries"]
        if libraries:
            if libraries[0]:
                env[args.path_variable] = os.path.join(os.path.dirname(args.sim_dir), libraries[0])
        elif "without driver" not in sections:
            env[args.path_variable] = args.sim_dir
        elif args.no_driver_dir:
            env[args.path_variable] = args.no_driver_dir
        env.update(line.split("=", 1) for line in sections.get("env", []))
        stdin = expand_text(sections.get("stdin", [])).encode("latin-1")
        try:
            done = subprocess.run(args.wrapper + [args.tool], input=stdin, cwd=folder, env=env,
                                  capture_output=True, timeout=args.timeout)
        except subprocess.TimeoutExpired:
            return ["did not end within %d seconds" % args.timeout]
        stdout = done.stdout.replace(b"\r\n", b"\n") if args.crlf else done.stdout
        problems = []
        expected = expand_text(sections.get("stdout", [])).encode("latin-1")
        if stdout != expected:
            diff = difflib.unified_diff(expected.decode("latin-1").splitlines(True),
                                        stdout.decode("latin-1").splitlines(True),
                                        "expected", "printed")
            problems.append("stdout differs:\n" + "".join(diff) + "\nraw: " + repr(stdout))
        stderr = done.stderr.decode("latin-1")
        for line in sections.get("stderr", []):
            if line not in stderr:
                problems.append(f"stderr lacks {line!r}; it was: {stderr!r}")
        want_status = int((sections.get("exit") or ["0"])[0])
        if done.returncode != want_status:
            problems.append(f"exit status {done.returncode}, expected {want_status}")
        got = open(received, "rb").read() if os.path.exists(received) else b""
        want = byte_values(sections.get("device", []))
        if got != want:
            problems.append(f"device received {list(got)[:64]}, expected {list(want)[:64]}")
        calls = open(log).read() if os.path.exists(log) else ""
        unpaired = device_calls_are_paired(calls)
        if unpaired:
            problems.append(f"device calls: {unpaired}:\n{calls}")
        return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--sim-dir", required=True)
    parser.add_argument("--no-driver-dir", help="folder on the loader's path without driver")
    parser.add_argument("--wrapper", default="", help="command that runs the tool, such as wine")
    parser.add_argument("--path-variable", default="LD_LIBRARY_PATH")
    parser.add_argument("--crlf", action="store_true", help="the tool ends lines with CR LF")
    parser.add_argument("--timeout", type=int, default=60)
    parser.add_argument("tests", nargs="+")
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    args.sim_dir = os.path.abspath(args.sim_dir)
    if args.no_driver_dir:
        args.no_driver_dir = os.path.abspath(args.no_driver_dir)
    args.wrapper = args.wrapper.split()
    passed = failed = 0
    for path in args.tests:
        for case in parse(path):
            problems = run_case(case, args)
            if problems:
                failed += 1
                print(f"FAIL {os.path.basename(path)}: {case['title']}")
                for problem in problems:
                    print("  " + problem.replace("\n", "\n  "))
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
