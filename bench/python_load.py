#!/usr/bin/env python3
"""One row of bench/run: loading a mesh document through Python's kestrel_sc.load against C++
kestrel::Load, medians of RUNS loads each, the two taken in turn.

    python_load.py --python-path BUILD/python --cxx BUILD/bin/kestrel-bench-load-time FILE
"""

import argparse
import os
import statistics
import subprocess
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--python-path", required=True, help="directory holding kestrel_sc/")
    parser.add_argument("--cxx", required=True, help="kestrel-bench-load-time")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    sys.path.insert(0, args.python_path)
    import kestrel_sc

    python_times, cxx_times = [], []
    for _ in range(args.rounds):
        cxx = subprocess.run([args.cxx, args.file, str(args.runs)], check=True,
                             capture_output=True, text=True)
        cxx_times.append(float(cxx.stdout))
        for _ in range(args.runs):
            started = time.perf_counter()
            tree = kestrel_sc.load(args.file)
            python_times.append(time.perf_counter() - started)
            del tree
    python_s = statistics.median(python_times)
    cxx_s = statistics.median(cxx_times)
    size = os.path.getsize(args.file)
    print(f"load {size / 1e6:.0f} MB mesh document: Python kestrel_sc.load {python_s * 1e3:.1f} ms"
          f" vs C++ kestrel::Load {cxx_s * 1e3:.1f} ms: {python_s / cxx_s:.3f}x")


if __name__ == "__main__":
    main()
