#!/usr/bin/env python3
"""Benchmarks the tool on the simulated device, measured side by side in one run:
  1. streaming 1 MiB with no device delay, stdout to /dev/null, against bench/reference.c;
  2. peak memory for an 8 MiB file against an empty one;
  3. with 125 microseconds per write (one high-speed USB microframe), the tool's own time as a
     share of the run. The tool's own time is its CPU time for the same file with no delay: a
     sleeping device also costs the kernel timer and scheduler work per write, and that belongs
     to the device, not to the tool.
Usage: bench/run.py BUILD_DIR   (BUILD_DIR holds src/brevinmarquest, sim/ and bench/); bench/run
builds and calls it."""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run(command, build, stdin=b"", env=None):
    """Runs a command to completion; gives wall seconds, CPU seconds and peak RSS in KiB."""
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(build, "sim"), **(env or {}))
    with tempfile.TemporaryFile() as given, open(os.devnull, "wb") as sink, \
            tempfile.NamedTemporaryFile("r") as peak:
        given.write(stdin)
        given.seek(0)
        start = time.perf_counter()
        # GNU time forks the command from its own small image; a child forked from Python
        # would report Python's memory as its peak.
        child = subprocess.Popen(["/usr/bin/time", "-q", "-f", "%M", "-o", peak.name] + command,
                                 stdin=given, stdout=sink, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        peak_kib = int(peak.read().split()[-1])
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    return wall, usage.ru_utime + usage.ru_stime, peak_kib


def make_file(folder, name, size):
    path = os.path.join(folder, name)
    with open(path, "wb") as out:
        out.write(bytes(i % 256 for i in range(size)))
    return path


def main():
    build = os.path.abspath(sys.argv[1])
    tool = os.path.join(build, "src", "brevinmarquest")
    reference = os.path.join(build, "bench", "bench_reference")
    folder = tempfile.mkdtemp()
    one_mib = make_file(folder, "1mib.bit", 1 << 20)

    def load(path):
        return f"L {path} Q\n".encode()

    tool_times, reference_times = [], []
    for _ in range(5):
        tool_times.append(run([tool], build, load(one_mib))[0])
        reference_times.append(run([reference, one_mib], build)[0])
    tool_median, reference_median = statistics.median(tool_times), statistics.median(reference_times)
    ratio = tool_median / reference_median
    print(f"1 MiB, no delay: tool {tool_median:.2f} s, reference {reference_median:.2f} s, "
          f"ratio {ratio:.2f} (goal: at most 1.3)")

    empty = make_file(folder, "empty.bit", 0)
    eight_mib = make_file(folder, "8mib.bit", 8 << 20)
    empty_rss = run([tool], build, load(empty))[2]
    large_rss = run([tool], build, load(eight_mib))[2]
    print(f"peak memory: empty file {empty_rss} KiB, 8 MiB file {large_rss} KiB, "
          f"growth {large_rss - empty_rss} KiB (goal: under 1024)")

    small = make_file(folder, "16kib.bit", 16 << 10)
    wall, delayed_cpu, _ = run([tool], build, load(small),
                               {"BREVINMARQUEST_SIM_WRITE_DELAY_US": "125"})
    own = run([tool], build, load(small))[1]
    share = 100 * own / wall
    print(f"16 KiB at 125 us per write: run {wall:.2f} s, tool's own time {own:.3f} s, "
          f"{share:.1f}% (goal: under 5%; CPU time with the device's sleeping {delayed_cpu:.3f} s)")
    return 0 if ratio <= 1.3 and large_rss - empty_rss < 1024 and share < 5 else 1


if __name__ == "__main__":
    sys.exit(main())
