#!/usr/bin/env python3
"""Runs one command and reports, as one JSON line on stderr-free stdout:
wall seconds, CPU seconds of the command's process tree, the machine's busy
share of its CPUs over the run (so the share taken by other work can be told
apart), the load average, and the peak resident size (VmHWM) of the process
whose executable name matches --watch (default: the command's own process).

  measure.py [--watch NAME] -- command...

The command's own output goes to measure.py's stderr."""
import json
import os
import resource
import subprocess
import sys
import time


def cpu_times():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return sum(fields), idle


def children_of():
    tree = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                text = f.read()
        except OSError:
            continue
        rest = text[text.rindex(")") + 2:].split()
        tree.setdefault(int(rest[1]), []).append(int(name))
    return tree


def descendants(pid):
    tree, found, todo = children_of(), [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo.extend(tree.get(p, []))
    return found


def status_kb(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_of(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
        rest = text[text.rindex(")") + 2:].split()
        return int(rest[11]) + int(rest[12])
    except (OSError, ValueError):
        return None


def cpu_of_task(pid, task):
    try:
        with open("/proc/%d/task/%d/stat" % (pid, task)) as f:
            text = f.read()
        rest = text[text.rindex(")") + 2:].split()
        return int(rest[11]) + int(rest[12])
    except (OSError, ValueError):
        return None


def exe_name(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def main():
    args = sys.argv[1:]
    watch = None
    if args[:1] == ["--watch"]:
        watch, args = args[1], args[2:]
    if args[:1] == ["--"]:
        args = args[1:]
    ticks = os.sysconf("SC_CLK_TCK")
    total0, idle0 = cpu_times()
    start = time.monotonic()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    process = subprocess.Popen(args, stdout=sys.stderr)
    peak, watched, cpu, threads = 0, set(), {}, {}
    while process.poll() is None:
        for pid in descendants(process.pid):
            used = cpu_of(pid)
            if used is not None:
                cpu[pid] = used
            if watch is None and pid == process.pid or watch is not None and watch in exe_name(pid):
                watched.add(pid)
                peak = max(peak, status_kb(pid, "VmHWM"))
                for task in os.listdir("/proc/%d/task" % pid) if os.path.isdir("/proc/%d/task" % pid) else []:
                    used = cpu_of_task(pid, int(task))
                    if used is not None:
                        threads[int(task)] = used
        time.sleep(0.05)
    wall = time.monotonic() - start
    total1, idle1 = cpu_times()
    busy = 1.0 - (idle1 - idle0) / max(1, total1 - total0)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    own = max(sum(cpu.values()) / ticks,
              after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    if watch is None:
        peak = max(peak, after.ru_maxrss)
    print(json.dumps({"rc": process.returncode, "wall": round(wall, 3), "cpu": round(own, 2),
                      "machine_busy": round(busy, 3), "cpus": os.cpu_count(),
                      "load": os.getloadavg()[0], "peak_kb": peak, "watched": len(watched),
                      "threads": sorted((round(t / ticks, 2) for t in threads.values() if t), reverse=True)}))


if __name__ == "__main__":
    main()
