#!/usr/bin/env python3
"""Runs one command and prints, on one line: its wall time in seconds, the peak resident memory
in kB of the process and of the children it waited for (the largest of them), and the peak total
size in bytes of the files below WATCH while it ran (0 without --watch).

    measure-run.py [--watch DIR] [--out FILE] -- COMMAND [ARGUMENT ...]

The command's standard output goes to FILE (or is dropped), its standard error is dropped.
Exits with the command's status."""

import os
import subprocess
import sys
import threading
import time


def folder_bytes(path):
    total = 0
    stack = [path]
    while stack:
        try:
            with os.scandir(stack.pop()) as entries:
                for entry in entries:
                    try:
                        if entry.is_dir(follow_symlinks=False):
                            stack.append(entry.path)
                        elif entry.is_file(follow_symlinks=False):
                            total += entry.stat(follow_symlinks=False).st_size
                    except OSError:
                        pass  # removed while it was looked at
        except OSError:
            pass
    return total


def main():
    arguments = sys.argv[1:]
    watch = out = None
    while arguments and arguments[0] != "--":
        option = arguments.pop(0)
        if option == "--watch":
            watch = arguments.pop(0)
        elif option == "--out":
            out = arguments.pop(0)
        else:
            sys.exit("unknown option " + option)
    command = arguments[1:]
    if not command:
        sys.exit(__doc__)

    peak = 0
    done = threading.Event()

    def sample():
        nonlocal peak
        while not done.is_set():
            peak = max(peak, folder_bytes(watch))
            done.wait(0.02)

    sampler = threading.Thread(target=sample) if watch else None
    with open(out or os.devnull, "wb") as output:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=output, stderr=subprocess.DEVNULL)
        if sampler:
            sampler.start()
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
    done.set()
    if sampler:
        sampler.join()
    print(f"{seconds:.3f} {usage.ru_maxrss} {peak}")
    sys.exit(process.returncode)


main()
