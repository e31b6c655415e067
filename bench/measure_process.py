#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures one running process over a stretch of time.

    measure_process.py PID SECONDS

Prints one line of key=value pairs:
  cpu_pct    CPU time used during the stretch, as % of one core: the sum of
             the scheduler's run time of every thread (schedstat, nanoseconds)
  tick_pct   the same from utime+stime (/proc/<pid>/stat), in 10 ms ticks:
             coarse (one tick in 60 s is 0.017 %), but it also counts threads
             that ended during the stretch
  rss_mb     resident set at the end (VmRSS), MB (10^6 bytes)
  pss_mb     proportional set size at the end (smaps_rollup), MB
  threads    thread count at the end
then one line per thread name with its share of one core ("thread <name> <pct>"),
busiest first, so a cost can be put on the thread that has it.
"""

import os
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def cpu_ticks(stat_path):
    with open(stat_path) as f:
        text = f.read()
    fields = text[text.rfind(")") + 2:].split()
    # fields[0] is field 3 (state); utime is field 14, stime field 15.
    return int(fields[11]) + int(fields[12])


def threads(pid):
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                ns = int(f.read().split()[0])
            out[tid] = (name, ns)
        except OSError:
            pass  # the thread ended meanwhile
    return out


def kb_field(path, key):
    with open(path) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def main():
    pid, seconds = int(sys.argv[1]), float(sys.argv[2])
    start_total = cpu_ticks(f"/proc/{pid}/stat")
    start_threads = threads(pid)
    start = time.monotonic()
    time.sleep(seconds)
    end_total = cpu_ticks(f"/proc/{pid}/stat")
    end_threads = threads(pid)
    wall = time.monotonic() - start

    tick_pct = (end_total - start_total) / TICK / wall * 100.0
    rss = kb_field(f"/proc/{pid}/status", "VmRSS") * 1024 / 1e6
    pss = kb_field(f"/proc/{pid}/smaps_rollup", "Pss") * 1024 / 1e6
    per_name = {}
    total_ns = 0
    for tid, (name, ns) in end_threads.items():
        before = start_threads.get(tid, (name, 0))[1]
        per_name[name] = per_name.get(name, 0) + ns - before
        total_ns += ns - before
    cpu_pct = total_ns / 1e9 / wall * 100.0
    print(f"cpu_pct={cpu_pct:.3f} tick_pct={tick_pct:.3f} rss_mb={rss:.1f} pss_mb={pss:.1f} "
          f"threads={len(end_threads)} seconds={wall:.1f}")
    for name, ns in sorted(per_name.items(), key=lambda kv: -kv[1]):
        print(f"thread {name} {ns / 1e9 / wall * 100.0:.3f}")


if __name__ == "__main__":
    main()
