#!/usr/bin/env python3
"""Runs the real tool on the simulated device through pipes and compares, byte for byte, what it
printed, the bytes the device received and its exit status with the cases in .test files.

A .test file holds cases. Each starts with a line "=== title"; lines before its first section
are comments. Sections start with "--- name":
  stdin            what is typed; a line break ends every line
  stdout           exactly what the tool prints
  stderr           exactly the lines it writes to standard error, in order
  device           decimal byte values the device must receive (none when the section is absent)
  exit             the exit status (0 when absent)
  env              NAME=value lines for the simulated device
  file NAME        a file in the case's working folder, as decimal byte values
  dir NAME         a folder in the case's working folder
  without driver   the simulated device is not on the loader's path; the --no-driver-dir
                   folder is, when given, to hide the system's own libraries as well
  libraries NAME.. the build's folders NAME... (beside the simulated device's) are the loader's
                   path instead of the simulated device's
  stdin bytes      decimal byte values typed after the stdin section
  stdin stays open standard input is not closed: the tool has to end on its own
  stdout ends      the text standard output must end with, in place of stdout
  stdout closed    the tool starts with standard output closed
  stdout broken    the tool's standard output is a pipe that is read only as far as the stdout
                   section goes and then closed (at once when that section is empty)
  sigpipe ignored  the tool starts with the broken-pipe signal ignored
  device prefix    the device must receive a start of these bytes, but not all of them
  fifo NAME        a FIFO in the case's working folder, fed these byte values once opened
  shrink NAME N    once the device has received a byte, the file NAME is cut to N bytes
  max rss          the most memory the tool may take, in MiB
  chips            emulated FTDI chips, one a line in plug-in order, that the tool reaches
                   through the system's libftdi1 and libusb (see usb_chips.py; the section may
                   be empty); device then means the bytes the chips received
  usb              exactly what the chips saw, as usb_chips.py logs it
  unreadable NAME  the file NAME loses its read permission (the case is skipped as root, who
                   reads it anyway)
  signal NAME N    once the device has received N bytes, the signal SIGNAME is sent to the tool;
                   the device's call log must then end with a close right after the last write
In stdin, stdout, stderr and section names, {banner}, {menu}, {load} and {entry} stand for the
tool's texts, {nul} for a NUL byte and {x*N} for a character repeated N times. A line made only of
these adds no line break of its own. In stdout and stderr, {any} stands for any text within a
line, {source} for the project's source folder, {build} for the build folder and {received} for the number of bytes the device
received. In device and file sections, B*N stands for the byte B repeated N times.
Whatever the case, every successful open of the device must be closed, and no write may come
outside an open device, unless an exit below 0 says that a signal ended the tool.
"""
import argparse
import difflib
import itertools
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading

TEXTS = {
    "banner": "****************\n*Brevinmarquest*\n****************\n\n",
    "menu": "\nMAIN MENU\n\n   [L]oad .bit to USB\n   [H]and enter bytes to send to USB\n"
            "   [Q]uit\n\n",
    "load": "\nLOAD BIT FILE\n\n   [C]ancel\n   (anything else to load)\n"
            "    Filename To Read (INCLUDE extension): ",
    "entry": "Enter a number between 0 and 255 (Q to quit): ",
    "nul": "\0",
    "any": "\x01",
    "received": "",
}
# Stands for {any} until the expected text is made a pattern.
ANY = "\x01"
PLACEHOLDER = re.compile(r"\{([a-z]+|.\*\d+)\}")
ONLY_PLACEHOLDERS = re.compile(r"^(\{([a-z]+|.\*\d+)\})+$")
CHUNK = 1 << 20
# Whatever the caller set for the loader could lead the tool to the machine's own drivers.
LOADER_VARIABLES = ("LD_LIBRARY_PATH", "LD_PRELOAD", "DYLD_LIBRARY_PATH",
                    "DYLD_FALLBACK_LIBRARY_PATH", "DYLD_INSERT_LIBRARIES", "WINEPATH")


def expand(match):
    name = match.group(1)
    if "*" in name and name not in TEXTS:
        return name[0] * int(name[2:])
    return TEXTS[name]


def text_pieces(lines):
    """The text of `lines` in pieces of at most CHUNK bytes, so that a repeat of 100 MB is never
    held in memory whole."""
    for line in lines:
        at = 0
        for match in PLACEHOLDER.finditer(line):
            yield line[at:match.start()].encode("latin-1")
            name = match.group(1)
            if "*" in name and name not in TEXTS:
                count = int(name[2:])
                while count > 0:
                    yield name[0].encode("latin-1") * min(count, CHUNK)
                    count -= CHUNK
            else:
                yield TEXTS[name].encode("latin-1")
            at = match.end()
        yield line[at:].encode("latin-1")
        if not ONLY_PLACEHOLDERS.match(line):
            yield b"\n"


def expand_text(lines):
    return b"".join(text_pieces(lines)).decode("latin-1")


def expand_name(name):
    return PLACEHOLDER.sub(expand, name)


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


def prepare_folder(folder, sections):
    for name, lines in sections.items():
        kind, _, rest = name.partition(" ")
        path = os.path.join(folder, expand_name(rest))
        if kind == "file":
            with open(path, "wb") as out:
                out.write(byte_values(lines))
        elif kind == "dir":
            os.mkdir(path)
        elif kind == "fifo":
            os.mkfifo(path)


def feed_fifo(path, data):
    try:
        fifo = os.open(path, os.O_WRONLY)
        with open(fifo, "wb") as out:
            out.write(data)
    except OSError:
        pass


def release_fifo(path):
    """Lets a writer still waiting for a reader go: the tool never opened the FIFO."""
    os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))


def shrink_once_sending(path, size, received, ended):
    while not ended.wait(0.001):
        if os.path.exists(received) and os.path.getsize(received) > 0:
            os.truncate(path, size)
            return


def signal_once_received(process, name, count, received, ended):
    """Sends the signal a little after the count is reached, so that a tool about to wait at a
    prompt is waiting when it comes."""
    while not ended.wait(0.001):
        if os.path.exists(received) and os.path.getsize(received) >= count:
            ended.wait(0.05)
            process.send_signal(getattr(signal, "SIG" + name))
            return


def side_threads(folder, sections, received, ended):
    """Threads that play the file system's part: FIFO writers and files that shrink."""
    threads, fifos = [], []
    for name, lines in sections.items():
        kind, _, rest = name.partition(" ")
        if kind == "fifo":
            path = os.path.join(folder, expand_name(rest))
            fifos.append(path)
            threads.append(threading.Thread(target=feed_fifo, args=(path, byte_values(lines))))
        elif kind == "shrink":
            file_name, size = rest.rsplit(" ", 1)
            path = os.path.join(folder, expand_name(file_name))
            threads.append(threading.Thread(target=shrink_once_sending,
                                            args=(path, int(size), received, ended)))
    for thread in threads:
        thread.daemon = True
        thread.start()
    return threads, fifos


def feed_stdin(pipe, pieces, stays_open, ended):
    try:
        for piece in pieces:
            pipe.write(piece)
        pipe.flush()
    except OSError:
        pass
    if stays_open:
        ended.wait()
    try:
        pipe.close()
    except OSError:
        pass


def collect(pipe, sink, limit=None):
    """Reads the pipe to its end, or only `limit` bytes and then closes it, breaking it."""
    while limit is None or len(sink) < limit:
        data = pipe.read1(CHUNK if limit is None else limit - len(sink))
        if not data:
            break
        sink += data
    pipe.close()


def run_tool(args, sections, folder, env, received, unprivileged=False):
    """Runs the tool as the case says; gives (stdout, stderr, status, peak memory in KiB), or
    None when it did not end in time."""
    expected = expand_text(sections.get("stdout", [])).encode("latin-1")
    broken = "stdout broken" in sections
    options = dict(cwd=folder, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE, restore_signals="sigpipe ignored" not in sections)
    if unprivileged and os.getuid() == 0:
        # Root ignores file modes; nobody does not.
        os.chmod(folder, 0o755)
        options.update(user=65534, group=65534, extra_groups=[])
    write_end = None
    if "stdout closed" in sections:
        options.update(stdout=None, preexec_fn=lambda: os.close(1))
    elif broken and not expected:
        read_end, write_end = os.pipe()
        os.close(read_end)
        options["stdout"] = write_end
    ended = threading.Event()
    threads, fifos = side_threads(folder, sections, received, ended)
    process = subprocess.Popen(args.wrapper + [args.tool], **options)
    for name in sections:
        if name.split()[0] == "signal":
            _, signal_name, count = name.split()
            threads.append(threading.Thread(target=signal_once_received, daemon=True, args=(
                process, signal_name, int(count), received, ended)))
            threads[-1].start()
    if write_end is not None:
        os.close(write_end)
    stdout, stderr = bytearray(), bytearray()
    pieces = text_pieces(sections.get("stdin", []))
    if "stdin bytes" in sections:
        pieces = itertools.chain(pieces, [byte_values(sections["stdin bytes"])])
    threads += [threading.Thread(target=feed_stdin, args=(process.stdin, pieces,
                                                          "stdin stays open" in sections, ended)),
                threading.Thread(target=collect, args=(process.stderr, stderr))]
    if process.stdout:
        threads.append(threading.Thread(target=collect, args=(
            process.stdout, stdout, len(expected) if broken else None)))
    for thread in threads[-3:]:
        thread.start()
    timer = threading.Timer(args.timeout, process.kill)
    timer.start()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    in_time = timer.is_alive()
    timer.cancel()
    ended.set()
    for path in fifos:
        release_fifo(path)
    for thread in threads:
        thread.join(args.timeout)
    if not in_time:
        return None
    return bytes(stdout), stderr.decode("latin-1"), process.returncode, usage.ru_maxrss


def matches(expected, text, ending=False):
    """True when `text` is `expected` (or ends with it), {any} matching any text within a line."""
    if ANY not in expected:
        return text.endswith(expected) if ending else text == expected
    pattern = re.escape(expected).replace(re.escape(ANY), "[^\n]*")
    return re.fullmatch(("(?s:.*)" if ending else "") + pattern, text) is not None


def check_stdout(sections, stdout):
    ending = "stdout ends" in sections
    expected = expand_text(sections.get("stdout ends" if ending else "stdout", [])).encode("latin-1")
    if matches(expected.decode("latin-1"), stdout.decode("latin-1"), ending):
        return []
    diff = difflib.unified_diff(expected.decode("latin-1").splitlines(True),
                                stdout[-len(expected):].decode("latin-1").splitlines(True),
                                "expected", "printed")
    return ["stdout differs:\n" + "".join(diff) + "\nraw: " + repr(stdout[-4096:])]


def check_device(sections, got):
    if "device prefix" in sections:
        whole = byte_values(sections["device prefix"])
        if len(got) < len(whole) and whole.startswith(got):
            return []
        return [f"device received {len(got)} bytes, not a part of the start: {list(got)[:64]}"]
    want = byte_values(sections.get("device", []))
    if got != want:
        return [f"device received {list(got)[:64]}, expected {list(want)[:64]}"]
    return []


def check_stderr(sections, stderr):
    if "stderr" not in sections:
        return []
    expected = expand_text(sections["stderr"])
    if matches(expected, stderr):
        return []
    diff = difflib.unified_diff(expected.splitlines(True), stderr.splitlines(True), "expected",
                                "printed")
    return ["stderr differs:\n" + "".join(diff)]


def check_stopped(sections, calls):
    """After a signal the device was closed right after the last write, with nothing after."""
    if not any(name.split()[0] == "signal" for name in sections):
        return []
    lines = calls.splitlines()
    if len(lines) >= 2 and lines[-1] == "close" and lines[-2].startswith("write "):
        return []
    return [f"the device log does not end with a close after the last write:\n{calls}"]


def run_case(case, args):
    sections = case["sections"]
    with tempfile.TemporaryDirectory() as folder:
        prepare_folder(folder, sections)
        for name in sections:
            if name.split()[0] == "unreadable":
                os.chmod(os.path.join(folder, expand_name(name.split(None, 1)[1])), 0)
        received, log = os.path.join(folder, ".received"), os.path.join(folder, ".calls")
        env = dict(os.environ, BREVINMARQUEST_SIM_RECEIVED=received, BREVINMARQUEST_SIM_LOG=log)
        for name in LOADER_VARIABLES + (args.path_variable,):
            env.pop(name, None)
        libraries = [name.split()[1:] for name in sections if name.split()[0] == "libraries"]
        if libraries:
            build = os.path.dirname(args.sim_dir)
            env[args.path_variable] = os.pathsep.join(os.path.join(build, n) for n in libraries[0])
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
            stdout, stderr = stdout.replace(b"\r\n", b"\n"), stderr.replace("\r\n", "\n")
        if bench:
            got = bytes(bench.received)
        else:
            got = open(received, "rb").read() if os.path.exists(received) else b""
        TEXTS["received"] = str(len(got))
        problems = check_stdout(sections, stdout) + check_stderr(sections, stderr)
        want_status = int((sections.get("exit") or ["0"])[0])
        if returncode != want_status:
            problems.append(f"exit status {returncode}, expected {want_status}")
        if "max rss" in sections and peak_kib > int(sections["max rss"][0]) * 1024:
            problems.append(f"peak memory {peak_kib // 1024} MiB, over {sections['max rss'][0]}")
        problems += check_device(sections, got)
        if bench and bench.log != sections.get("usb", []):
            problems.append("the chips saw:\n" + "\n".join(bench.log))
        calls = open(log).read() if os.path.exists(log) else ""
        problems += check_stopped(sections, calls)
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
    parser.add_argument("--source-dir", default="", help="the project's source folder")
    parser.add_argument("tests", nargs="+")
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    args.sim_dir = os.path.abspath(args.sim_dir)
    if args.no_driver_dir:
        args.no_driver_dir = os.path.abspath(args.no_driver_dir)
    args.wrapper = args.wrapper.split()
    TEXTS["source"] = os.path.abspath(args.source_dir)
    TEXTS["build"] = os.path.dirname(args.sim_dir)
    passed = failed = skipped = 0
    for path in args.tests:
        for case in parse(path):
            if os.geteuid() == 0 and any(n.startswith("unreadable ") for n in case["sections"]):
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
