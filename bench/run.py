#!/usr/bin/env python3
"""Benchmarks the tool on the simulated device, measured side by side in one run:
  1. streaming 1 MiB with no device delay, stdout to /dev/null, against bench/reference.c, which
     makes one write(2) per byte;
  2. the tool's write calls on standard output per byte of a 2,000-byte file, counted with strace;
  3. peak memory for an 8 MiB file against an empty one;
  4. with 125 microseconds per write (one high-speed USB microframe), the tool's own time as a
     share of the run. The tool's own time is its CPU time for the same file with no delay: a
     sleeping device also costs the kernel timer and scheduler work per write, and that belongs
     to the device, not to the tool.
Exits with 1 when a goal is missed.
Usage: bench/run.py BUILD_DIR   (BUILD_DIR holds src/brevinmarquest, sim/ and bench/); bench/run
builds and calls it."""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

RATIO_GOAL = 1.10
WRITES_PER_BYTE_GOAL = 1.05
GROWTH_GOAL_KIB = 1024
SHARE_GOAL_PERCENT = 5

# A write or writev on standard output in strace's log, whatever process made it.
CONSOLE_WRITE = re.compile(r"^(?:\d+\s+)?writev?\(1,", re.M)


def tool_env(build, env=None):
    return dict(os.environ, LD_LIBRARY_PATH=os.path.join(build, "sim"), **(env or {}))


def run(command, build, stdin=b"", env=None):
    """Runs a command to completion; gives wall seconds, CPU seconds and peak RSS in KiB."""
    with tempfile.TemporaryFile() as given, open(os.devnull, "wb") as sink, \
            tempfile.NamedTemporaryFile("r") as peak:
        given.write(stdin)
        given.seek(0)
        start = time.perf_counter()
        # GNU time forks the command from its own small image; a child forked from Python
        # would report Python's memory as its peak.
        child = subprocess.Popen(["/usr/bin/time", "-q", "-f", "%M", "-o", peak.name] + command,
                                 stdin=given, stdout=sink, env=tool_env(build, env))
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        peak_kib = int(peak.read().split()[-1])
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    return wall, usage.ru_utime + usage.ru_stime, peak_kib


def console_writes(command, build, stdin=b""):
    """Counts the write calls a command makes on its standard output."""
    with tempfile.NamedTemporaryFile("r") as log:
        subprocess.run(["strace", "-f", "-qq", "-e", "trace=write,writev", "-o", log.name] + command,
                       input=stdin, stdout=subprocess.DEVNULL, env=tool_env(build), check=True)
        return len(CONSOLE_WRITE.findall(log.read()))


def make_file(folder, name, size):
    path = os.path.join(folder, name)
    with open(path, "wb") as out:
        out.write(bytes(i % 256 for i in range(size)))
    return path


def load(path):
    return f"L {path} Q\n".encode()


def measure(folder, build):
    tool = os.path.join(build, "src", "brevinmarquest")
    reference = os.path.join(build, "bench", "bench_reference")
    met = []

    one_mib = make_file(folder, "1mib.bit", 1 << 20)
    tool_times, reference_times = [], []
    for _ in range(5):
        tool_times.append(run([tool], build, load(one_mib))[0])
        reference_times.append(run([reference, one_mib], build)[0])
    tool_median, reference_median = statistics.median(tool_times), statistics.median(reference_times)
    ratio = tool_median / reference_median
    met.append(ratio <= RATIO_GOAL)
    print(f"1 MiB, no delay: tool {tool_median:.2f} s, reference {reference_median:.2f} s, "
          f"ratio {ratio:.2f} (goal: at most {RATIO_GOAL:.2f})")

    size = 2000
    two_thousand = make_file(folder, "2000.bit", size)
    tool_writes = console_writes([tool], build, load(two_thousand))
    reference_writes = console_writes([reference, two_thousand], build)
    per_byte = tool_writes / size
    met.append(per_byte <= WRITES_PER_BYTE_GOAL)
    print(f"console writes, {size} bytes: tool {tool_writes}, {per_byte:.3f} per byte; reference "
          f"{reference_writes} (goal: at most {WRITES_PER_BYTE_GOAL:.2f} per byte)")

    empty = make_file(folder, "empty.bit", 0)
    eight_mib = make_file(folder, "8mib.bit", 8 << 20)
    empty_rss = run([tool], build, load(empty))[2]
    large_rss = run([tool], build, load(eight_mib))[2]
    met.append(large_rss - empty_rss < GROWTH_GOAL_KIB)
    print(f"peak memory: empty file {empty_rss} KiB, 8 MiB file {large_rss} KiB, "
          f"growth {large_rss - empty_rss} KiB (goal: under {GROWTH_GOAL_KIB})")

    small = make_file(folder, "16kib.bit", 16 << 10)
    wall, delayed_cpu, _ = run([tool], build, load(small),
                               {"BREVINMARQUEST_SIM_WRITE_DELAY_US": "125"})
    own = run([tool], build, load(small))[1]
    share = 100 * own / wall
    met.append(share < SHARE_GOAL_PERCENT)
    print(f"16 KiB at 125 us per write: run {wall:.2f} s, tool's own time {own:.3f} s, "
          f"{share:.1f}% (goal: under {SHARE_GOAL_PERCENT}%; CPU time with the device's sleeping "
          f"{delayed_cpu:.3f} s)")
    return all(met)


def main():
    build = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="brevinmarquest-bench-") as folder:
        met = measure(folder, build)
    if not met:
        print("a goal is missed")
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
