#!/usr/bin/env python3
"""Runs the real tool on the simulated device through pipes and compares, byte for byte, what it
printed, the bytes the device received and its exit status with the cases in .test files.

A .test file holds cases: each a line "=== title", lines of comment, then sections, each a line
"--- name [words]" (or "--- name [words]: its first line") and the lines after it:
  stdin [open|pty]    what is typed, a line break after each line; "open": then left open;
                      "pty": typed on a terminal that is the tool's console, Enter after each
                      line, and stdout is what the terminal shows of both streams, without its
                      control sequences (skipped on Windows itself, which has no pty)
  stdout [whole|closed|broken|paused]  exactly what the tool prints: {banner}{menu}, then this
                      text, unless a word is given or it starts with {...} (when absent: the
                      banner and menu alone); "whole": this text alone; "closed": the tool starts
                      with standard output closed; "broken": standard output is a pipe read only
                      as far as this text goes, then closed (at once when it is empty); "paused":
                      its reader pauses until a second after the last signal
  stderr [closed]     exactly the lines the tool writes to standard error, in order; "closed":
                      the tool starts with standard error closed
  signalled           exactly what stdout showed as the first signal was sent, {...} for its start
  device [prefix]     decimal byte values the device must receive (none when absent); "prefix":
                      a start of these bytes, but not all of them
  exit                the exit status (0 when absent, below 0 when a signal ended the tool)
  memory              the most memory the tool may take, in MiB (unchecked on Windows, which
                      tells no child's peak memory)
  env                 NAME=value pairs for the simulated device, one a line or blank-separated
  file NAME [fifo [open]|unreadable|shrink N]  decimal byte values of a file in the case's
                      working folder (a folder when NAME ends with "/"); "fifo": a FIFO fed them
                      once it is opened ("open": its writer then waits for the tool to end);
                      "unreadable": no read permission (the case is skipped as root);
                      "shrink N": the file is cut to N bytes once the device has a byte
  signal NAME N [MS]  SIGNAME goes to the tool MS milliseconds (50 when not given) after the
                      device has received N bytes; unless it ends the tool, the device's call log
                      must then end with a close right after the last write. SIGINT is a Ctrl-C
                      typed on a pty, and with --ctrl-c-launcher one pressed by the launcher
  signal NAME ignored the tool starts with SIGNAME ignored
  wrapper             a command that runs the tool, such as strace (the case is skipped where it
                      is not installed); signals go to the tool beneath it
  libraries [NAME..]  the loader's path instead of the simulated device: the build's folders
                      NAME... (. for the working folder); with none, the --no-driver-dir folder if
                      it is given. On Windows itself the tool runs from a copy beside the first
                      folder's FTD2XX.dll, and a case with no folder is skipped
  chips               emulated FTDI chips, one a line in plug-in order (or none), reached through
                      the system's libftdi1 and libusb (see usb_chips.py), or the libraries
                      named; device then means the bytes the chips received
  usb                 exactly what the chips saw, as usb_chips.py logs it
In texts and names, {banner}, {menu}, {load}, {entry} and {unrecognized} (its line and the menu)
stand for the tool's texts, {xNN} for the byte of lower-case hex value NN and {T*N} for T repeated
N times; a line made only of these adds no line break. In stdout and stderr, {any} matches any
text within a line, {...} any text at all, {build} is the build folder and {received} the number
of bytes the device received. In byte values, B*N is the byte B repeated N times. Unless a signal
ended the tool, every open of the device must be closed and no write may come outside one.
"""
import argparse
import contextlib
import difflib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
from functools import partial

MENU = "\nMAIN MENU\n\n   [L]oad .bit to USB\n   [H]and enter bytes to send to USB\n   [Q]uit\n\n"
TEXTS = {
    "banner": "****************\n*Brevinmarquest*\n****************\n\n",
    "menu": MENU,
    "unrecognized": "Unrecognized Input (Must be capitalized)\n" + MENU,
    "load": "\nLOAD BIT FILE\n\n   [C]ancel\n   (anything else to load)\n"
            "    Filename To Read (INCLUDE extension): ",
    "entry": "Enter a number between 0 and 255 (Q to quit): ",
    # Stand for {any} and {...} until the expected text is made a pattern.
    "any": "\0{any}\0",
    "...": "\0{...}\0",
}
TEXTS.update((f"x{value:02x}", chr(value)) for value in range(256))
PLACEHOLDER = re.compile(r"\{(\w\w+|\.\.\.|.)(?:\*(\d+))?\}")
# A terminal's control sequences; a move to the right passes over blanks.
CONTROL = re.compile(r"\x1b\[([?0-9;]*)([A-Za-z])")
# The launcher presses Ctrl-C once this file appears in the case's folder.
CTRL_C_TRIGGER = ".ctrl-c"
CHUNK = 1 << 20
# Whatever the caller set for the loader could lead the tool to the machine's own drivers.
LOADER_VARIABLES = ("LD_LIBRARY_PATH", "LD_PRELOAD", "DYLD_LIBRARY_PATH",
                    "DYLD_FALLBACK_LIBRARY_PATH", "DYLD_INSERT_LIBRARIES", "WINEPATH")


def text_pieces(lines):
    """The text of the lines in pieces of about CHUNK bytes at most, so that a repeat of 100 MB
    is never held in memory whole."""
    for line in lines:
        at = 0
        for match in PLACEHOLDER.finditer(line):
            yield line[at:match.start()].encode("latin-1")
            name, count = match.groups()
            text = (TEXTS[name] if len(name) > 1 else name).encode("latin-1")
            count, per_piece = int(count or 1), max(1, CHUNK // len(text))
            for done in range(0, count, per_piece):
                yield text * min(per_piece, count - done)
            at = match.end()
        yield line[at:].encode("latin-1") + b"\n" * (not line or bool(PLACEHOLDER.sub("", line)))


def expand(lines):
    return b"".join(text_pieces(lines)).decode("latin-1")


def path_of(folder, name):
    return os.path.join(folder, expand([name]).rstrip("\n"))


def byte_values(lines):
    words = re.sub(r"(\d+)\*(\d+)", lambda match: (match[1] + " ") * int(match[2]), " ".join(lines))
    return bytes(map(int, words.split()))


def parse(path):
    """The file's cases: each a title, and its sections' words and lines by the sections' name."""
    cases = []
    for block in re.split(r"^=== ", open(path, encoding="utf-8").read(), flags=re.M)[1:]:
        title, *parts = re.split(r"^--- ", block, flags=re.M)
        cases.append((title.split("\n")[0], {}))
        for part in parts:
            header, _, body = part.partition("\n")
            header, inline, first = header.partition(": ")
            text = (first + "\n" + body if inline else body).rstrip("\n")
            name, *words = header.split()
            cases[-1][1].setdefault(name, []).append((words, text.split("\n") if text else []))
        # The expected stdout starts with the banner and menu unless the case says otherwise.
        words, lines = section(cases[-1][1], "stdout")
        if not words and not (lines or [""])[0].startswith("{...}"):
            cases[-1][1]["stdout"] = [(words, ["{banner}{menu}"] + lines)]
    return cases


def section(sections, name):
    """The words and lines of the first section `name`, none of either when there is none."""
    return sections.get(name, [([], [])])[0]


def check_text(sections, stream, got):
    """Problems unless `got` is the text expected, with {any} and {...} for any text."""
    expected = expand(section(sections, stream)[1])
    pattern = re.escape(expected).replace(re.escape(TEXTS["any"]), "[^\n]*")
    if re.fullmatch(pattern.replace(re.escape(TEXTS["..."]), "(?s:.*)"), got):
        return []
    diff = difflib.unified_diff(*(t.splitlines(True) for t in (expected, got)), "expected", "got")
    return [f"{stream} differs:\n{''.join(diff)}\nraw: {got[-4096:]!r}"]


def check_device(sections, got):
    words, lines = section(sections, "device")
    want = byte_values(lines)
    if want.startswith(got) and len(got) < len(want) if "prefix" in words else got == want:
        return []
    return [f"device got {len(got)} bytes, {list(got)[:64]}, expected {' '.join(words + lines)}"]


def check_calls(log, signalled):
    """Problems unless every successful open of the device is closed, no write comes while it is
    closed and, after a signal, a close comes right after the last write."""
    calls, is_open = log.splitlines(), False
    if signalled and not (calls[-2:-1] and calls[-2].startswith("write ") and calls[-1] == "close"):
        return [f"the device log does not end with a close after the last write:\n{log}"]
    for call in calls:
        opened = call.startswith("open ") and not call.endswith(" failed")
        if "while closed" in call or (opened and is_open):
            return [f"device call '{call}' out of place:\n{log}"]
        is_open = opened or (is_open and call != "close")
    return [f"device left open at the end:\n{log}"] if is_open else []


def feed(pipe, typed, ended=None):
    """Writes to the pipe, opened first when it is a path, and closes it (once `ended` is set)."""
    with contextlib.suppress(OSError):
        pipe = open(pipe, "wb") if isinstance(pipe, str) else pipe
        pipe.writelines(typed)
        pipe.flush()
    if ended:
        ended.wait()
    with contextlib.suppress(OSError):
        pipe.close()


def once_received(count, received, ended, delay, action):
    """Acts `delay` seconds after the device has received `count` bytes (time to reach a prompt)."""
    while not ended.wait(0.001):
        if os.path.exists(received) and os.path.getsize(received) >= count:
            ended.wait(delay)
            return action()


def collect(pipe, sink, limit=1 << 62, paused=None):
    """Reads the pipe to its end, or only `limit` bytes and then closes it, breaking it; first
    waits for `paused` to be set, if given."""
    if paused:
        paused.wait()
    with contextlib.suppress(OSError):  # a pty's end, once the tool has closed it
        while len(sink) < limit and (data := pipe.read1(min(CHUNK, limit - len(sink)))):
            sink += data
    pipe.close()


def shown(text):
    """What a terminal shows of `text`, without its control sequences."""
    return CONTROL.sub(lambda m: " " * int(m[1] or 1) if m[2] == "C" else "", text)


def open_console():
    """A pty whose terminal passes every key through but Ctrl-C, which becomes SIGINT, as a
    console's does: its two ends."""
    import fcntl, struct, termios, tty
    leader, follower = os.openpty()
    # Wide enough that no line of the tool's is wrapped.
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 250, 0, 0))
    tty.setraw(follower)
    modes = termios.tcgetattr(follower)
    modes[3] |= termios.ISIG
    termios.tcsetattr(follower, termios.TCSANOW, modes)
    return leader, follower


def make_controlling_terminal():
    import fcntl, termios
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def touch(path):
    open(path, "w").close()


def signal_tool(process, wrapped, number, resumed=None):
    """Sends the signal to the tool, beneath its wrapper if it has one; then sets `resumed` a
    second later."""
    pid = process.pid
    if wrapped:
        with open(f"/proc/{pid}/task/{pid}/children") as children:
            pid = int(children.read().split()[0])
    os.kill(pid, number)
    if resumed:
        threading.Timer(1, resumed.set).start()


def run_tool(args, sections, folder, env, received, unprivileged=False):
    """Runs the tool: its stdout, stderr, status and peak memory in KiB; None if it never ends."""
    out_words, out_lines = section(sections, "stdout")
    limit = len(expand(out_lines)) if "broken" in out_words else 1 << 62
    signals = [(getattr(signal, "SIG" + w[0]), w[1:]) for w, _ in sections.get("signal", [])]
    ignored = [number for number, rest in signals if rest == ["ignored"]]

    def prepare_child():
        for number in ignored:
            signal.signal(number, signal.SIG_IGN)
        if limit == 0:  # a pipe without a reader
            read_end, write_end = os.pipe()
            os.dup2(write_end, 1)
            os.close(read_end)
        if "closed" in out_words:
            os.close(1)
        if "closed" in section(sections, "stderr")[0]:
            os.close(2)

    in_words, in_lines = section(sections, "stdin")
    console = open_console() if "pty" in in_words else None
    stream = console[1] if console else subprocess.PIPE
    options = dict(cwd=folder, env=env, stdin=stream, stdout=stream, stderr=stream)
    if console:
        options.update(start_new_session=True, preexec_fn=make_controlling_terminal)
    elif os.name == "posix":
        options.update(restore_signals=signal.SIGPIPE not in ignored, preexec_fn=prepare_child)
    tool = args.tool
    if os.name == "nt":
        # Windows looks for FTD2XX.dll in the tool's own folder, then in System32, where FTDI's
        # driver puts the real one, and only then on PATH: the tool runs from a copy beside the
        # library that the case chose.
        tool = shutil.copy(args.tool, folder)
        shutil.copy(os.path.join(env[args.path_variable].split(os.pathsep)[0], "FTD2XX.dll"), folder)
    if unprivileged and os.getuid() == 0:
        # Root ignores file modes; nobody does not. Nobody may not reach the build folder (a
        # clone in /root), and a loader path it cannot read would let the machine's own driver
        # libraries through, so the tool and its libraries run from copies in the case's folder.
        tool = shutil.copy(args.tool, folder)
        env[args.path_variable] = os.pathsep.join(
            shutil.copytree(path, os.path.join(folder, f".libraries{n}"))
            for n, path in enumerate(env[args.path_variable].split(os.pathsep)))
        os.chmod(folder, 0o755)
        options.update(user=65534, group=65534, extra_groups=[])
    wrapper = " ".join(section(sections, "wrapper")[1]).split()
    launcher = [args.ctrl_c_launcher, CTRL_C_TRIGGER] if args.ctrl_c_launcher and any(
        number == signal.SIGINT for number, _ in signals) and not console else []
    process = subprocess.Popen(wrapper + args.wrapper + launcher + [tool], **options)
    ended = threading.Event()
    stdout, stderr = bytearray(), bytearray()
    files = [(path_of(folder, w[0]), w[1:], lines) for w, lines in sections.get("file", [])]
    fifos = [(path, byte_values(lines), "open" in rest and ended)
             for path, rest, lines in files if rest[:1] == ["fifo"]]
    # The reader of a paused output goes on a second after the last signal.
    resumed = threading.Event() if "paused" in out_words else None
    if console:
        os.close(console[1])
        typed = (piece.replace(b"\n", b"\r") for piece in text_pieces(in_lines))
        jobs = [(feed, open(os.dup(console[0]), "wb"), typed, ended),
                (collect, open(console[0], "rb"), stdout)]
        ctrl_c = partial(os.write, console[0], b"\x03")
    else:
        jobs = [(feed, process.stdin, text_pieces(in_lines), "open" in in_words and ended),
                (collect, process.stderr, stderr), (collect, process.stdout, stdout, limit, resumed)]
        ctrl_c = partial(touch, os.path.join(folder, CTRL_C_TRIGGER))
    jobs += [(feed, path, [data], held) for path, data, held in fifos]
    jobs += [(once_received, 1, received, ended, 0, partial(os.truncate, path, int(rest[1])))
             for path, rest, _ in files if rest[:1] == ["shrink"]]
    sent = [(number, rest) for number, rest in signals if rest != ["ignored"]]
    seen = []  # what stdout showed as each signal went

    def look_then(action):
        seen.append(bytes(stdout))
        action()
    jobs += [(once_received, int(rest[0]), received, ended, int((rest[1:] or [50])[0]) / 1000,
              partial(look_then, ctrl_c if (console or launcher) and number == signal.SIGINT else
              partial(signal_tool, process, bool(wrapper), number, resumed if n == len(sent) else None)))
             for n, (number, rest) in enumerate(sent, 1)]
    threads = [threading.Thread(target=job[0], args=job[1:], daemon=True) for job in jobs]
    for thread in threads:
        thread.start()
    timer = threading.Timer(args.timeout, process.kill)
    timer.start()
    if hasattr(os, "wait4"):
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode, peak_kib = os.waitstatus_to_exitcode(status), usage.ru_maxrss
    else:
        process.wait()
        peak_kib = None
    in_time = timer.is_alive()
    timer.cancel()
    ended.set()
    if resumed:
        resumed.set()
    for path, *_ in fifos:
        # Lets a writer still waiting for a reader go: the tool never opened the FIFO.
        os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
    for thread in threads:
        thread.join(args.timeout)
    if in_time:  # a Windows tool's line ends are taken as line breaks
        texts = [(shown if console else str)(data.decode("latin-1")).replace(
                     "\r\n", "\n" if args.crlf else "\r\n") for data in (stdout, stderr, *seen[:1])]
        return texts, process.returncode, peak_kib


def run_case(sections, args):
    with tempfile.TemporaryDirectory() as folder:
        for (name, *rest), lines in sections.get("file", []):
            path = path_of(folder, name)
            if name.endswith("/"):
                os.mkdir(path)
            elif rest[:1] == ["fifo"]:
                os.mkfifo(path)
            else:
                with open(path, "wb") as out:
                    out.write(byte_values(lines))
                if rest == ["unreadable"]:
                    os.chmod(path, 0)
        received, log = os.path.join(folder, ".received"), os.path.join(folder, ".calls")
        env = dict(os.environ, BREVINMARQUEST_SIM_RECEIVED=received, BREVINMARQUEST_SIM_LOG=log)
        for name in LOADER_VARIABLES + (args.path_variable,):
            env.pop(name, None)
        # The simulated device's folder is absolute: joined to the build's, it stays whole.
        names = section(sections, "libraries")[0] if "libraries" in sections else [args.sim_dir]
        paths = [folder if name == "." else os.path.join(TEXTS["build"], name)
                 for name in names] or [args.no_driver_dir]
        if None not in paths:
            env[args.path_variable] = os.pathsep.join(paths)
        # A blank before NAME= starts another pair; a value may hold other blanks.
        env.update(pair.split("=", 1) for line in section(sections, "env")[1]
                   for pair in re.split(r" +(?=\w+=)", line))
        bench = None
        if "chips" in sections:
            import usb_chips
            bench = usb_chips.Bench(section(sections, "chips")[1])
            env.update(UMOCKDEV_DIR=bench.root, LD_PRELOAD=usb_chips.PRELOAD)
            # A sanitized tool would otherwise refuse to start behind the preloaded library.
            env["ASAN_OPTIONS"] = "verify_asan_link_order=0:" + env.get("ASAN_OPTIONS", "")
            if "libraries" not in sections:
                env[args.path_variable] = os.path.join(TEXTS["build"], "no-vendor")
        with contextlib.closing(bench) if bench else contextlib.nullcontext():
            done = run_tool(args, sections, folder, env, received, bench and bench.unprivileged)
        if done is None:
            return ["did not end within %d seconds" % args.timeout]
        (stdout, stderr, *signalled), returncode, peak_kib = done
        got = bytes(bench.received) if bench else (
            open(received, "rb").read() if os.path.exists(received) else b"")
        TEXTS["received"] = str(len(got))
        problems = check_text(sections, "stdout", stdout) + check_device(sections, got)
        if "stderr" in sections:
            problems += check_text(sections, "stderr", stderr)
        if "signalled" in sections:
            problems += check_text(sections, "signalled", (signalled or [""])[0])
        want_status = int((section(sections, "exit")[1] or ["0"])[0])
        if returncode != want_status:
            problems.append(f"exit status {returncode}, expected {want_status}")
        memory = section(sections, "memory")[1]
        if memory and peak_kib is not None and peak_kib > int(memory[0]) * 1024:
            problems.append(f"peak memory {peak_kib // 1024} MiB, over {memory[0]}")
        if bench and bench.log != section(sections, "usb")[1]:
            problems.append("the chips saw:\n" + "\n".join(bench.log))
        # A tool killed by a signal leaves releasing the device to the operating system.
        calls = open(log).read() if os.path.exists(log) else ""
        signalled = any(words[1:] != ["ignored"] for words, _ in sections.get("signal", []))
        return problems + (check_calls(calls, signalled) if returncode >= 0 else [])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", required=True, type=os.path.abspath)
    parser.add_argument("--sim-dir", required=True, type=os.path.abspath)
    parser.add_argument("--no-driver-dir", type=os.path.abspath, help="a folder that hides drivers")
    parser.add_argument("--wrapper", default="", type=str.split, help="runs the tool, e.g. wine")
    parser.add_argument("--path-variable", default="LD_LIBRARY_PATH")
    parser.add_argument("--crlf", action="store_true", help="the tool ends lines with CR LF")
    parser.add_argument("--ctrl-c-launcher", type=os.path.abspath,
                        help="a Windows program that runs the tool and presses Ctrl-C for SIGINT")
    parser.add_argument("--timeout", type=int, default=60)
    parser.add_argument("tests", nargs="+")
    args = parser.parse_args()
    TEXTS["build"] = os.path.dirname(args.sim_dir)
    passed = failed = skipped = 0
    for path in args.tests:
        for title, sections in parse(path):
            wrapper = " ".join(section(sections, "wrapper")[1]).split()
            unreadable = any("unreadable" in words for words, _ in sections.get("file", []))
            # Windows itself finds the machine's own FTD2XX.dll where a case wants none at all.
            no_driver = "libraries" in sections and not section(sections, "libraries")[0]
            pty = "pty" in section(sections, "stdin")[0]
            if ((unreadable and os.name == "posix" and os.geteuid() == 0) or
                    (wrapper and not shutil.which(wrapper[0])) or
                    ((no_driver or pty) and os.name == "nt")):
                skipped += 1
            elif problems := run_case(sections, args):
                failed += 1
                report = "\n".join([f"FAIL {os.path.basename(path)}: {title}"] + problems)
                print(report.replace("\n", "\n  "))
            else:
                passed += 1
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
