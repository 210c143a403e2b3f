#!/usr/bin/env python3
"""Where the threads of a program spent their time, from Linux's scheduler statistics.

    bench/thread_waits.py NAME -- COMMAND...

Runs COMMAND, follows the process whose command line holds NAME (under Wine: the program
itself) and prints, for each of its threads that ran for at least 50 ms of processor time,
its life split into running, waiting for a processor (the machine is busy) and waiting for
anything else (a lock, a read, another thread). A thread that hashes in parallel with the
others and is never held up by them waits for nothing else, however busy the machine is;
so this tells a serialised step from a shared machine where wall times cannot.
"""
import os
import subprocess
import sys
import time


def find(name):
    """The process whose program name holds name: under Wine the program's command line
    begins with its .exe once the loader has mapped it; the scripts that start it only
    mention it further on."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name.encode() in f.read().split(b"\0")[0]:
                    return int(pid)
        except OSError:
            pass
    return None


def sample(pid, threads):
    now = time.monotonic()
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                running, waiting, _ = (int(x) for x in f.read().split())
        except (OSError, ValueError):
            continue
        first = threads.setdefault(tid, {"first": now, "run0": running, "wait0": waiting})
        first.update(last=now, run=running, wait=waiting)


def main():
    if "--" not in sys.argv or sys.argv.index("--") != 2:
        sys.exit(__doc__)
    name, command = sys.argv[1], sys.argv[3:]
    child = subprocess.Popen(command)
    pid, threads = None, {}
    while child.poll() is None:
        pid = pid or find(name)
        if pid:
            sample(pid, threads)
        time.sleep(0.005)
    for tid, t in sorted(threads.items(), key=lambda item: item[1]["first"]):
        running = (t["run"] - t["run0"]) / 1e9
        if running < 0.05:
            continue
        waiting = (t["wait"] - t["wait0"]) / 1e9
        life = t["last"] - t["first"]
        other = max(0.0, life - running - waiting)
        print(f"thread {tid}: {life:.2f} s seen, running {running:.2f} s, waiting for a processor {waiting:.2f} s, "
              f"waiting for anything else {other:.2f} s")
    sys.exit(child.returncode)


if __name__ == "__main__":
    main()
