#!/usr/bin/env python3
"""Rows of bench/run: the whole `kestrel-sc info FILE` process against a process that only loads
the same file with pugixml's load_file, each started fresh, PAIRS pairs taken in turn (so drift
of the machine's speed hits both alike); wall-clock medians and the speed ratio pugixml / ours.

    process_load.py --tool BUILD/bin/kestrel-sc --pugixml BUILD/bin/kestrel-bench-pugixml-load \\
        [--pairs 5] [--json OUT] FILE...
"""

import argparse
import json
import os
import statistics
import subprocess
import time


# Goals of the speed ratio by kind of document (the file name's first word), and what stands in
# the way when one is missed.
GOALS = {
    "property": (0.45, "the load builds two trees, each allocated element by element (see the "
                 "property load targets above)"),
    "mesh": (0.6, "the loader's read, the payload copied into the element tree's strings, "
             "decoding and normals: fresh memory of more than twice the file, where pugixml "
             "touches the file once"),
}


def timed(command):
    started = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("files", nargs="+")
    parser.add_argument("--tool", required=True, help="kestrel-sc")
    parser.add_argument("--pugixml", required=True, help="kestrel-bench-pugixml-load")
    parser.add_argument("--pairs", type=int, default=5)
    parser.add_argument("--json", help="where to write the figures")
    args = parser.parse_args()

    rows = []
    for path in args.files:
        ours_command = [args.tool, "info", path]
        pugixml_command = [args.pugixml, path]
        timed(ours_command)  # warm the file cache for both
        ours, pugixml = [], []
        for _ in range(args.pairs):
            ours.append(timed(ours_command))
            pugixml.append(timed(pugixml_command))
        rows.append({
            "file": os.path.basename(path),
            "bytes": os.path.getsize(path),
            "kestrel_sc_info_seconds": statistics.median(ours),
            "pugixml_load_file_seconds": statistics.median(pugixml),
            "speed_ratio": statistics.median(p / o for p, o in zip(pugixml, ours)),
        })
    print("Whole process, fresh each time (wall, medians of "
          f"{args.pairs} pairs): kestrel-sc info against pugixml load_file")
    for row in rows:
        print(f"  {row['file']:<28} {row['kestrel_sc_info_seconds'] * 1e3:8.1f} ms against "
              f"{row['pugixml_load_file_seconds'] * 1e3:7.1f} ms: {row['speed_ratio']:.2f}x "
              "pugixml's speed", end="")
        goal = GOALS.get(row["file"].split("-")[0])
        if goal:
            met = row["speed_ratio"] >= goal[0]
            print(f" (goal >= {goal[0]}x: {'met' if met else 'missed: ' + goal[1]})", end="")
        print()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=2)


if __name__ == "__main__":
    main()
