#!/usr/bin/env python3
"""Runs the real tool on the simulated device through pipes and compares, byte for byte, what it
printed, the bytes the device received and its exit status with the cases in .test files.

A .test file holds cases. Each starts with a line "=== title"; lines before its first section
are comments. A line "--- name" starts a section, "--- name: line" one that starts with that line:
  stdin             what is typed, a line break after every line
  stdin bytes       decimal byte values typed after that
  stdin stays open  standard input is not closed: the tool has to end on its own
  stdout            exactly what the tool prints; "stdout ends": what it must end with instead
  stdout closed     the tool starts with standard output closed
  stdout broken     standard output is a pipe read only as far as the stdout section goes, then
                    closed (at once when that section is empty)
  ignored           the tool starts with these signals ignored (PIPE, INT...)
  wrapper           a command that runs the tool, such as strace; the case is skipped where it is
                    not installed, and signals go to the tool beneath it
  stderr            exactly the lines the tool writes to standard error, in order
  device            decimal byte values the device must receive (none when absent); "device
                    prefix": it must receive a start of these bytes, but not all of them
  exit              the exit status (0 when absent, below 0 when a signal ended the tool)
  max rss           the most memory the tool may take, in MiB
  env               NAME=value lines for the simulated device
  file NAME         a file of these decimal byte values in the case's working folder; "dir NAME":
                    a folder there; "fifo NAME": a FIFO there, fed these byte values once opened
  unreadable NAME   NAME loses its read permission (the case is skipped as root, who reads it)
  shrink NAME N     once the device has received a byte, the file NAME is cut to N bytes
  signal NAME N [MS]  MS milliseconds (50 when not given) after the device has received N
                    bytes, SIGNAME is sent to the tool; unless a signal ended the tool, the
                    device's call log must then end with a close right after the last write
  without driver    the simulated device is not on the loader's path; the --no-driver-dir folder
                    is, when given, to hide the system's own libraries as well
  libraries NAME..  the build's folders NAME... (. for the case's own folder) are the loader's
                    path instead
  chips             emulated FTDI chips, one a line in plug-in order, reached through the
                    system's libftdi1 and libusb (see usb_chips.py; the section may be empty);
                    device then means the bytes the chips received
  usb               exactly what the chips saw, as usb_chips.py logs it
In texts and names, {banner}, {menu}, {load}, {entry} and {unrecognized} (its line and the menu)
stand for the tool's texts, {nul} for a NUL byte and {T*N} for the text or character T repeated N
times; a line made only of these adds no line break of its own. In stdout and stderr, {any} stands
for any text within a line, {build} for the build folder and {received}
for the number of bytes the device received. In byte values, B*N is the byte B repeated N times.
Every successful open of the device must be closed, and no write may come outside an open device,
unless a signal ended the tool.
"""
import argparse
import contextlib
import difflib
import functools
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

MENU = "\nMAIN MENU\n\n   [L]oad .bit to USB\n   [H]and enter bytes to send to USB\n   [Q]uit\n\n"
TEXTS = {
    "banner": "****************\n*Brevinmarquest*\n****************\n\n",
    "menu": MENU,
    "unrecognized": "Unrecognized Input (Must be capitalized)\n" + MENU,
    "load": "\nLOAD BIT FILE\n\n   [C]ancel\n   (anything else to load)\n"
            "    Filename To Read (INCLUDE extension): ",
    "entry": "Enter a number between 0 and 255 (Q to quit): ",
    "nul": "\0",
    # Stands for {any} until the expected text is made a pattern.
    "any": "\x01",
}
PLACEHOLDER = re.compile(r"\{([a-z]+|.)(?:\*(\d+))?\}")
CHUNK = 1 << 20
# Whatever the caller set for the loader could lead the tool to the machine's own drivers.
LOADER_VARIABLES = ("LD_LIBRARY_PATH", "LD_PRELOAD", "DYLD_LIBRARY_PATH",
                    "DYLD_FALLBACK_LIBRARY_PATH", "DYLD_INSERT_LIBRARIES", "WINEPATH")


def pieces(line):
    """The text of `line` in pieces of about CHUNK bytes at most, so that a repeat of 100 MB is
    never held in memory whole."""
    at = 0
    for match in PLACEHOLDER.finditer(line):
        yield line[at:match.start()].encode("latin-1")
        name, count = match.groups()
        text = (name if count and name not in TEXTS else TEXTS[name]).encode("latin-1")
        count, per_piece = int(count or 1), max(1, CHUNK // max(1, len(text)))
        for done in range(0, count, per_piece):
            yield text * min(per_piece, count - done)
        at = match.end()
    yield line[at:].encode("latin-1")


def text_pieces(lines):
    for line in lines:
        yield from pieces(line)
        if not line or PLACEHOLDER.sub("", line):
            yield b"\n"


def expand(lines):
    return b"".join(text_pieces(lines)).decode("latin-1")


def path_of(folder, name):
    return os.path.join(folder, b"".join(pieces(name)).decode("latin-1"))


def byte_values(lines):
    values = bytearray()
    for word in " ".join(lines).split():
        value, _, count = word.partition("*")
        values += bytes([int(value)]) * int(count or 1)
    return bytes(values)


def parse(path):
    cases, section = [], None
    with open(path, encoding="utf-8") as source:
        for line in source.read().split("\n"):
            if line.startswith("=== "):
                cases.append({"title": line[4:], "sections": {}})
                section = None
            elif line.startswith("--- ") and cases:
                name, inline, first = line[4:].partition(": ")
                section = cases[-1]["sections"].setdefault(name.strip(), [])
                section += [first] if inline else []
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


def prepare_folder(folder, sections):
    for name, lines in sections.items():
        kind, _, rest = name.partition(" ")
        if kind == "file":
            with open(path_of(folder, rest), "wb") as out:
                out.write(byte_values(lines))
        elif kind == "dir":
            os.mkdir(path_of(folder, rest))
        elif kind == "fifo":
            os.mkfifo(path_of(folder, rest))
        elif kind == "unreadable":
            os.chmod(path_of(folder, rest), 0)


def feed_fifo(path, data):
    with contextlib.suppress(OSError), open(path, "wb") as out:
        out.write(data)


def once_received(count, received, ended, delay, action):
    """Acts once the device has received `count` bytes; the delay lets a tool about to wait at a
    prompt be waiting by then."""
    while not ended.wait(0.001):
        if os.path.exists(received) and os.path.getsize(received) >= count:
            ended.wait(delay)
            action()
            return


def feed_stdin(pipe, typed, stays_open, ended):
    with contextlib.suppress(OSError):
        pipe.writelines(typed)
        pipe.flush()
    if stays_open:
        ended.wait()
    with contextlib.suppress(OSError):
        pipe.close()


def collect(pipe, sink, limit=None):
    """Reads the pipe to its end, or only `limit` bytes and then closes it, breaking it."""
    while limit is None or len(sink) < limit:
        data = pipe.read1(CHUNK if limit is None else limit - len(sink))
        if not data:
            break
        sink += data
    pipe.close()


def signal_tool(process, wrapped, number):
    """Sends the signal to the tool, beneath its wrapper if it has one."""
    pid = process.pid
    if wrapped:
        with open(f"/proc/{pid}/task/{pid}/children") as children:
            pid = int(children.read().split()[0])
    os.kill(pid, number)


def run_tool(args, sections, folder, env, received, unprivileged=False):
    """Runs the tool as the case says; gives (stdout, stderr, status, peak memory in KiB), or
    None when it did not end in time."""
    limit = len(expand(sections.get("stdout", []))) if "stdout broken" in sections else None
    ignored = [getattr(signal, "SIG" + name) for name in " ".join(sections.get("ignored", [])).split()]
    options = dict(cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE, restore_signals=signal.SIGPIPE not in ignored)
    tool = args.tool
    if unprivileged and os.getuid() == 0:
        # Root ignores file modes; nobody does not. Nobody may not reach the build folder (a
        # clone in /root), and a loader path it cannot read would let the machine's own driver
        # libraries through, so the tool and its libraries run from copies in the case's folder.
        tool = shutil.copy(args.tool, folder)
        paths = env[args.path_variable].split(os.pathsep)
        env[args.path_variable] = os.pathsep.join(
            shutil.copytree(path, os.path.join(folder, f".libraries{n}"))
            for n, path in enumerate(paths))
        os.chmod(folder, 0o755)
        options.update(user=65534, group=65534, extra_groups=[])
    closes_stdout = "stdout closed" in sections

    def prepare_child():
        for number in ignored:
            signal.signal(number, signal.SIG_IGN)
        if closes_stdout:
            os.close(1)

    options.update(preexec_fn=prepare_child)
    if closes_stdout:
        options.update(stdout=None)
    elif limit == 0:
        read_end, options["stdout"] = os.pipe()
        os.close(read_end)
    case_wrapper = " ".join(sections.get("wrapper", [])).split()
    process = subprocess.Popen(case_wrapper + args.wrapper + [tool], **options)
    if limit == 0:
        os.close(options["stdout"])
    ended = threading.Event()
    stdout, stderr = bytearray(), bytearray()
    typed = itertools.chain(text_pieces(sections.get("stdin", [])),
                            [byte_values(sections.get("stdin bytes", []))])
    jobs = [(feed_stdin, process.stdin, typed, "stdin stays open" in sections, ended),
            (collect, process.stderr, stderr)]
    if process.stdout:
        jobs.append((collect, process.stdout, stdout, limit))
    fifos = []
    for name, lines in sections.items():
        kind, _, rest = name.partition(" ")
        what, _, count = rest.rpartition(" ")
        if kind == "fifo":
            fifos.append(path_of(folder, rest))
            jobs.append((feed_fifo, fifos[-1], byte_values(lines)))
        elif kind == "shrink":
            jobs.append((once_received, 1, received, ended, 0,
                         functools.partial(os.truncate, path_of(folder, what), int(count))))
        elif kind == "signal":
            what, count, *delay = rest.split()
            jobs.append((once_received, int(count), received, ended, int((delay or [50])[0]) / 1000,
                         functools.partial(signal_tool, process, bool(case_wrapper),
                                           getattr(signal, "SIG" + what))))
    threads = [threading.Thread(target=job[0], args=job[1:], daemon=True) for job in jobs]
    for thread in threads:
        thread.start()
    timer = threading.Timer(args.timeout, process.kill)
    timer.start()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    in_time = timer.is_alive()
    timer.cancel()
    ended.set()
    for path in fifos:
        # Lets a writer still waiting for a reader go: the tool never opened the FIFO.
        os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
    for thread in threads:
        thread.join(args.timeout)
    if not in_time:
        return None
    return stdout.decode("latin-1"), stderr.decode("latin-1"), process.returncode, usage.ru_maxrss


def check_text(stream, expected, got, ending=False):
    """Problems unless `got` is `expected` (or ends with it), {any} matching any text in a line."""
    pattern = re.escape(expected).replace(re.escape(TEXTS["any"]), "[^\n]*")
    if re.fullmatch(("(?s:.*)" if ending else "") + pattern, got):
        return []
    diff = difflib.unified_diff(expected.splitlines(True),
                                got[-len(expected):].splitlines(True) if ending else
                                got.splitlines(True), "expected", "printed")
    return [f"{stream} differs:\n" + "".join(diff) + "\nraw: " + repr(got[-4096:])]


def check_device(sections, got):
    if "device prefix" in sections:
        whole = byte_values(sections["device prefix"])
        if len(got) < len(whole) and whole.startswith(got):
            return []
        return [f"device received {len(got)} bytes, not a part of the start: {list(got)[:64]}"]
    want = byte_values(sections.get("device", []))
    return [] if got == want else [f"device received {list(got)[:64]}, expected {list(want)[:64]}"]


def run_case(case, args):
    sections = case["sections"]
    with tempfile.TemporaryDirectory() as folder:
        prepare_folder(folder, sections)
        received, log = os.path.join(folder, ".received"), os.path.join(folder, ".calls")
        env = dict(os.environ, BREVINMARQUEST_SIM_RECEIVED=received, BREVINMARQUEST_SIM_LOG=log)
        for name in LOADER_VARIABLES + (args.path_variable,):
            env.pop(name, None)
        libraries = [name.split()[1:] for name in sections if name.startswith("libraries ")]
        if libraries:
            build = os.path.dirname(args.sim_dir)
            env[args.path_variable] = os.pathsep.join(
                folder if n == "." else os.path.join(build, n) for n in libraries[0])
        elif "without driver" not in sections:
            env[args.path_variable] = args.sim_dir
        elif args.no_driver_dir:
            env[args.path_variable] = args.no_driver_dir
        env.update(line.split("=", 1) for line in sections.get("env", []))
        bench = None
        if "chips" in sections:
            import usb_chips
            bench = usb_chips.Bench(sections["chips"])
            env.update(UMOCKDEV_DIR=bench.root, LD_PRELOAD=usb_chips.PRELOAD)
            # A sanitized tool would otherwise refuse to start behind the preloaded library.
            env["ASAN_OPTIONS"] = "verify_asan_link_order=0:" + env.get("ASAN_OPTIONS", "")
            env[args.path_variable] = os.path.join(os.path.dirname(args.sim_dir), "no-vendor")
        try:
            done = run_tool(args, sections, folder, env, received, bench and bench.unprivileged)
        finally:
            if bench:
                bench.close()
        if done is None:
            return ["did not end within %d seconds" % args.timeout]
        stdout, stderr, returncode, peak_kib = done
        if args.crlf:
            stdout, stderr = stdout.replace("\r\n", "\n"), stderr.replace("\r\n", "\n")
        if bench:
            got = bytes(bench.received)
        else:
            got = open(received, "rb").read() if os.path.exists(received) else b""
        TEXTS["received"] = str(len(got))
        ending = "stdout ends" in sections
        problems = check_text("stdout", expand(sections.get("stdout ends" if ending else "stdout",
                                                            [])), stdout, ending)
        if "stderr" in sections:
            problems += check_text("stderr", expand(sections["stderr"]), stderr)
        want_status = int((sections.get("exit") or ["0"])[0])
        if returncode != want_status:
            problems.append(f"exit status {returncode}, expected {want_status}")
        if "max rss" in sections and peak_kib > int(sections["max rss"][0]) * 1024:
            problems.append(f"peak memory {peak_kib // 1024} MiB, over {sections['max rss'][0]}")
        problems += check_device(sections, got)
        if bench and bench.log != sections.get("usb", []):
            problems.append("the chips saw:\n" + "\n".join(bench.log))
        calls = open(log).read() if os.path.exists(log) else ""
        last = calls.splitlines()[-2:]
        if returncode >= 0 and any(name.startswith("signal ") for name in sections) and (
                len(last) < 2 or last[1] != "close" or not last[0].startswith("write ")):
            problems.append(f"the device log does not end with a close after the last write:\n{calls}")
        # A tool killed by a signal leaves releasing the device to the operating system.
        unpaired = device_calls_are_paired(calls) if returncode >= 0 else None
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
    TEXTS["build"] = os.path.dirname(args.sim_dir)
    passed = failed = skipped = 0
    for path in args.tests:
        for case in parse(path):
            sections = case["sections"]
            wrapper = " ".join(sections.get("wrapper", [])).split()
            if (os.geteuid() == 0 and any(n.startswith("unreadable ") for n in sections)) or (
                    wrapper and not shutil.which(wrapper[0])):
                skipped += 1
                continue
            problems = run_case(case, args)
            if problems:
                failed += 1
                print(f"FAIL {os.path.basename(path)}: {case['title']}")
                for problem in problems:
                    print("  " + problem.replace("\n", "\n  "))
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
