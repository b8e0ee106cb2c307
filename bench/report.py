#!/usr/bin/env python3
"""Turns one bench/run's raw results into the table of ratios, results.json and a plot.

Inputs are Google Benchmark JSON files (document_bench, base64_bench) and the JSON lines of
kestrel-bench-load. Standard library only; the plot needs gnuplot and is skipped without it.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile

LOAD_PARTS = ["load_read", "load_parsexml", "load_walk", "load_freexml"]
PLOT_CASES = [
    ("pugixml_parse", "pugixml parse"),
    ("libxml2_parse", "libxml2 parse"),
    ("load", "our load"),
    ("cereal_load", "cereal load"),
    ("boost_load", "Boost load"),
    ("pugixml_save", "pugixml save"),
    ("write", "our write"),
    ("cereal_save", "cereal save"),
    ("boost_save", "Boost save"),
]


def read_benchmarks(path):
    """{run name: entry} with the median of repetitions, or the single run."""
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for entry in data.get("benchmarks", []):
        name = entry.get("run_name", entry["name"])
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") != "median":
                continue
        elif name in runs:
            continue  # repetitions without aggregates: keep the first
        if entry.get("error_occurred"):
            entry = dict(entry, real_time=None, bytes_per_second=None)
        runs[name] = entry
    return data.get("context", {}), runs


def seconds(entry):
    if not entry or entry.get("real_time") is None:
        return None
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry.get("time_unit", "ns")]
    return entry["real_time"] * scale


def split_document_runs(runs):
    """{document label: {case: entry}}, documents in run order."""
    documents = {}
    for name, entry in runs.items():
        parts = [
            part
            for part in name.split("/")
            if part not in ("real_time", "manual_time") and not part.startswith("iterations:")
        ]
        if len(parts) != 3:
            continue
        case, kind, size = parts
        documents.setdefault(f"{kind}/{size}", {})[case] = entry
    return documents


def ratio(numerator, denominator):
    if numerator is None or denominator in (None, 0):
        return None
    return numerator / denominator


def fmt_ratio(value):
    if value is None:
        return "-"
    if value >= 100:
        return f"{value:.0f}x"
    if value >= 10:
        return f"{value:.1f}x"
    return f"{value:.2f}x"


def fmt_rate(bytes_per_second):
    if bytes_per_second is None:
        return "-"
    if bytes_per_second >= 1e9:
        return f"{bytes_per_second / 1e9:.2f} GB/s"
    return f"{bytes_per_second / 1e6:.0f} MB/s"


def fmt_count_rate(per_second):
    if per_second is None:
        return "-"
    if per_second >= 1e6:
        return f"{per_second / 1e6:.1f} M/s"
    return f"{per_second / 1e3:.0f} k/s"


def fmt_percent(value):
    return "-" if value is None else f"{100 * value:.0f}%"


def document_figures(cases, rss):
    """The derived figures of one document."""
    t = {case: seconds(entry) for case, entry in cases.items()}
    load, write = t.get("load"), t.get("write")
    parts = [t.get(part) for part in LOAD_PARTS]
    figures = {
        "bytes": cases.get("memcpy", {}).get("text_bytes"),
        "load_bytes_per_second": cases.get("load", {}).get("bytes_per_second"),
        "write_bytes_per_second": cases.get("write", {}).get("bytes_per_second"),
        "load_over_pugixml_parse": ratio(load, t.get("pugixml_parse")),
        "load_over_memcpy": ratio(load, t.get("memcpy")),
        "libxml2_parse_over_pugixml_parse": ratio(t.get("libxml2_parse"), t.get("pugixml_parse")),
        "libxml2_parse_declared_over_pugixml_parse": ratio(
            t.get("libxml2_parse_declared"), t.get("pugixml_parse")
        ),
        "write_over_pugixml_save": ratio(write, t.get("pugixml_save")),
        "cereal_load_over_load": ratio(t.get("cereal_load"), load),
        "cereal_save_over_write": ratio(t.get("cereal_save"), write),
        "boost_load_over_load": ratio(t.get("boost_load"), load),
        "boost_save_over_write": ratio(t.get("boost_save"), write),
        "cereal_text_over_ours": ratio(
            cases.get("cereal_load", {}).get("text_bytes"), cases.get("load", {}).get("text_bytes")
        ),
        "boost_text_over_ours": ratio(
            cases.get("boost_load", {}).get("text_bytes"), cases.get("load", {}).get("text_bytes")
        ),
        "triangles_per_second": cases.get("load", {}).get("triangles_per_second"),
    }
    for part, value in zip(LOAD_PARTS, parts):
        figures[f"{part}_share_of_load"] = ratio(value, load)
    if load is not None and None not in parts:
        figures["load_other_share"] = (load - sum(parts)) / load
    if rss:
        figures["cold_load_bytes_per_second"] = ratio(rss["file_bytes"], rss["load_seconds"])
        figures["peak_rss_over_file"] = rss["peak_rss_over_file"]
        figures["rss_growth_over_file"] = (
            rss["peak_rss_bytes"] - rss["rss_before_load_bytes"]
        ) / rss["file_bytes"]
    return figures


def base64_figures(runs):
    """Decode and encode figures at the largest payload size measured."""
    sizes = sorted(
        {int(name.split("/")[1]) for name in runs if name.startswith("BM_Decode/")}, reverse=True
    )
    figures = []
    for size in sizes:
        def get(case):
            return runs.get(f"{case}/{size}", {})

        def rate(case):
            return get(case).get("bytes_per_second")

        figures.append(
            {
                "payload_bytes": size,
                "decode_bytes_per_second": rate("BM_Decode"),
                "decode_over_memcpy_speed": ratio(rate("BM_Decode"), rate("BM_Memcpy")),
                "decode_over_libb64_speed": ratio(rate("BM_Decode"), rate("BM_DecodeLibb64")),
                "decode_over_naive_speed": ratio(rate("BM_Decode"), rate("BM_DecodeNaive")),
                "encode_bytes_per_second": rate("BM_Encode"),
                "encode_over_libb64_speed": ratio(rate("BM_Encode"), rate("BM_EncodeLibb64")),
            }
        )
    return figures


def size_label(size):
    for unit, name in ((1 << 30, "GiB"), (1 << 20, "MiB"), (1 << 10, "KiB")):
        if size % unit == 0:
            return f"{size // unit} {name}"
    return f"{size} B"


def table(labels, figures, b64, header):
    rows = []

    def row(title, key, formatter):
        rows.append([title] + [formatter(figures[label].get(key)) for label in labels])

    def section(title):
        rows.append([title] + [""] * len(labels))

    section("Load: file -> content tree (time ratios: how many times as long)")
    row("  our full load, throughput", "load_bytes_per_second", fmt_rate)
    row("  the same, once in a fresh process (wall)", "cold_load_bytes_per_second", fmt_rate)
    row("  our full load / pugixml parse", "load_over_pugixml_parse", fmt_ratio)
    row("  our full load / memcpy", "load_over_memcpy", fmt_ratio)
    row("  libxml2 parse / pugixml parse", "libxml2_parse_over_pugixml_parse", fmt_ratio)
    row("    the same, prefix declared", "libxml2_parse_declared_over_pugixml_parse", fmt_ratio)
    row("  share: read file (bulk)", "load_read_share_of_load", fmt_percent)
    row("  share: ParseXml", "load_parsexml_share_of_load", fmt_percent)
    row("  share: XmlParser walk", "load_walk_share_of_load", fmt_percent)
    row("  share: FreeXml", "load_freexml_share_of_load", fmt_percent)
    row("  share: the rest (fetch, event, noise)", "load_other_share", fmt_percent)
    row("  triangles per second", "triangles_per_second", fmt_count_rate)
    row("  peak RSS / file size", "peak_rss_over_file", fmt_ratio)
    row("  RSS growth in the load / file size", "rss_growth_over_file", fmt_ratio)
    section("Write: content tree -> text")
    row("  our write, throughput", "write_bytes_per_second", fmt_rate)
    row("  our write / pugixml save", "write_over_pugixml_save", fmt_ratio)
    section("Peers on the same content (time / ours)")
    row("  cereal XML load / our full load", "cereal_load_over_load", fmt_ratio)
    row("  Boost XML load / our full load", "boost_load_over_load", fmt_ratio)
    row("  cereal XML save / our write", "cereal_save_over_write", fmt_ratio)
    row("  Boost XML save / our write", "boost_save_over_write", fmt_ratio)
    row("  cereal text size / ours", "cereal_text_over_ours", fmt_ratio)
    row("  Boost text size / ours", "boost_text_over_ours", fmt_ratio)

    widths = [max(len(r[i]) for r in rows + [[""] + labels]) for i in range(len(labels) + 1)]
    lines = [header, ""]
    lines.append(
        "  ".join(["".ljust(widths[0])] + [l.rjust(w) for l, w in zip(labels, widths[1:])])
    )
    for r in rows:
        if all(cell == "" for cell in r[1:]):
            lines.append(r[0])
        else:
            lines.append(
                "  ".join([r[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(r[1:], widths[1:])])
            )
    if b64:
        lines.append("")
        lines.append("Base64 (speed ratios: how many times as fast)")
        for f in b64:
            lines.append(
                f"  payload {size_label(f['payload_bytes'])}: decode "
                f"{fmt_rate(f['decode_bytes_per_second'])} = "
                f"{fmt_ratio(f['decode_over_memcpy_speed'])} memcpy, "
                f"{fmt_ratio(f['decode_over_libb64_speed'])} libb64, "
                f"{fmt_ratio(f['decode_over_naive_speed'])} naive; encode "
                f"{fmt_rate(f['encode_bytes_per_second'])} = "
                f"{fmt_ratio(f['encode_over_libb64_speed'])} libb64"
            )
    return "\n".join(lines)


# The goals for the largest documents: (what, kind, figure, bound, "max" or "min", what stands in
# the way when it is missed; docs/performance.md shows the profiles behind each reason).
TARGETS = [
    ("full load / pugixml parse, property", ["property"], "load_over_pugixml_parse", 2.2, "max",
     "ParseXml builds a tree whose attribute values are std::strings (GetAttributeText hands "
     "out const std::string&), and the walk builds a second tree, interning every property "
     "name and string value in the host's symbol table (a lock and a probe each)"),
    ("full load / pugixml parse, mesh", ["mesh"], "load_over_pugixml_parse", 1.6, "max",
     "normals, Base64 decoding and mesh building follow the parse; GetText must hand out each "
     "payload as a std::string the tree owns"),
    ("full write / pugixml save, property", ["property"], "write_over_pugixml_save", 2.0, "max",
     "the writer builds a whole element tree by the host's interface (an element, its attribute "
     "strings and its text per property) before WriteXml turns it into text; formatting the "
     "numbers (std::to_chars, shortest round trip) is a third of that walk"),
    ("full write / pugixml save, mesh and image", ["mesh", "image"], "write_over_pugixml_save",
     1.3, "max", "the payload is Base64-encoded into a string, copied into the element tree "
     "(SetText takes const std::string&) and copied again into the text"),
    ("peak memory / file, property", ["property"], "peak_rss_over_file", 2.0, "max",
     "the loader's text and the whole element tree exist together when ParseXml returns (it "
     "takes const std::string&), each element record with two attribute strings"),
    ("peak memory / file, mesh", ["mesh"], "peak_rss_over_file", 1.6, "max",
     "the loader's text and the payload strings the tree owns (GetText gives const "
     "std::string&) exist together when ParseXml returns: twice the file at least"),
    ("cereal and Boost load and save / ours, property", ["property"],
     ["cereal_load_over_load", "boost_load_over_load", "cereal_save_over_write",
      "boost_save_over_write"], 4.0, "min",
     "as the property load and write above"),
]


def targets(label_of_kind, figures):
    """Lines saying for each goal what was measured and whether it was met, or why not."""
    lines = ["Targets (largest documents)"]
    for title, kinds, keys, bound, sense, reason in TARGETS:
        keys = keys if isinstance(keys, list) else [keys]
        values = [figures[label_of_kind[k]].get(key) for k in kinds if k in label_of_kind
                  for key in keys]
        values = [v for v in values if v is not None]
        if not values:
            continue
        worst = max(values) if sense == "max" else min(values)
        met = worst <= bound if sense == "max" else worst >= bound
        goal = f"{'<=' if sense == 'max' else '>='} {bound:g}x"
        measured = ", ".join(fmt_ratio(v) for v in values)
        lines.append(f"  {title}: {measured} (goal {goal}): "
                     + ("met" if met else "missed: " + reason))
    return lines


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def compact(entry):
    keep = {
        "name",
        "run_name",
        "aggregate_name",
        "repetitions",
        "iterations",
        "real_time",
        "cpu_time",
        "time_unit",
        "bytes_per_second",
        "text_bytes",
        "output_bytes",
        "triangles_per_second",
        "wall_seconds",
        "label",
        "error_occurred",
        "error_message",
    }
    return {k: v for k, v in entry.items() if k in keep}


def plot(labels, documents, path, workdir):
    gnuplot = shutil.which("gnuplot")
    if not gnuplot:
        print("report: gnuplot not found, no plot", file=sys.stderr)
        return False
    # The largest size of each kind.
    chosen = {}
    for label in labels:
        chosen[label.split("/")[0]] = label
    columns = list(chosen.values())
    data = os.path.join(workdir, "report.dat")
    with open(data, "w") as f:
        f.write("case " + " ".join(f'"{c}"' for c in columns) + "\n")
        for case, title in PLOT_CASES:
            values = []
            for c in columns:
                rate = documents[c].get(case, {}).get("bytes_per_second")
                values.append(f"{rate / 1e6:.3f}" if rate else "NaN")
            f.write(f'"{title}" ' + " ".join(values) + "\n")
    script = os.path.join(workdir, "report.gp")
    terminal = "pngcairo size 960,540 font 'Sans,10'"
    probe = subprocess.run([gnuplot, "-e", "set terminal pngcairo"], capture_output=True)
    if probe.returncode != 0:
        terminal = "png size 960,540"
    with open(script, "w") as f:
        f.write(
            f"""set terminal {terminal}
set output '{path}'
set title 'Throughput on the same documents (MB/s of XML text, log scale; higher is faster)'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [1:*]
set ylabel 'MB/s'
set grid ytics
set xtics rotate by -30 nomirror
set key top right
"""
        )
        plots = [f"'{data}' using {i + 2}:xtic(1) title columnheader({i + 2})" for i in range(len(columns))]
        f.write("plot " + ", ".join(plots) + "\n")
    result = subprocess.run([gnuplot, script], capture_output=True, text=True)
    if result.returncode != 0:
        print("report: gnuplot failed:\n" + result.stderr, file=sys.stderr)
        return False
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--documents", required=True, help="document_bench JSON output")
    parser.add_argument("--base64", help="base64_bench JSON output")
    parser.add_argument("--rss", help="kestrel-bench-load --json lines")
    parser.add_argument("--results", help="where to write results.json")
    parser.add_argument("--plot", help="where to write the PNG plot")
    parser.add_argument("--mode", default="full")
    parser.add_argument("--compiler", default="")
    parser.add_argument("--duration", type=float, help="seconds the whole run took")
    parser.add_argument(
        "--check",
        action="store_true",
        help="exit 1 when a case failed or its result does not match the input",
    )
    args = parser.parse_args()

    context, runs = read_benchmarks(args.documents)
    documents = split_document_runs(runs)
    labels = list(documents)
    b64_runs = read_benchmarks(args.base64)[1] if args.base64 else {}
    rss = {}
    if args.rss:
        with open(args.rss) as f:
            for line in f:
                if line.strip():
                    entry = json.loads(line)
                    rss[os.path.basename(entry["file"])] = entry

    figures = {}
    for label in labels:
        kind, size = label.split("/")
        matched = next((v for k, v in rss.items() if k.startswith(f"{kind}-{size}-")), None)
        figures[label] = document_figures(documents[label], matched)
    b64 = base64_figures(b64_runs)

    repetitions = next(iter(runs.values()), {}).get("repetitions", 1)
    header = (
        f"kestrel-sc benchmarks ({args.mode}): {context.get('date', '')}, "
        f"{context.get('num_cpus', '?')} x {cpu_model()}, {args.compiler or 'compiler ?'}, "
        f"Release; {'medians of ' + str(repetitions) if repetitions > 1 else 'one run each'}, "
        f"process CPU time (all threads)"
    )
    print(table(labels, figures, b64, header))
    largest = {}
    for label in labels:
        kind, size = label.split("/")
        if kind not in largest or documents[label].get("memcpy", {}).get("text_bytes", 0) > \
                documents[largest[kind]].get("memcpy", {}).get("text_bytes", 0):
            largest[kind] = label
    print()
    print("\n".join(targets(largest, figures)))

    if args.results:
        results = {
            "generated": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            "mode": args.mode,
            "duration_seconds": args.duration,
            "machine": {
                "cpu": cpu_model(),
                "num_cpus": context.get("num_cpus"),
                "mhz_per_cpu": context.get("mhz_per_cpu"),
                "caches": context.get("caches"),
                "load_avg": context.get("load_avg"),
                "compiler": args.compiler,
                "system": platform.platform(),
            },
            "figures": figures,
            "base64": b64,
            "peak_memory": list(rss.values()),
            "documents": {
                k[len("document "):]: v for k, v in context.items() if k.startswith("document ")
            },
            "benchmarks": [compact(e) for e in runs.values()],
            "base64_benchmarks": [compact(e) for e in b64_runs.values()],
        }
        with open(args.results, "w") as f:
            json.dump(results, f, indent=1)
            f.write("\n")
    if args.plot:
        with tempfile.TemporaryDirectory() as workdir:
            plot(labels, documents, os.path.abspath(args.plot), workdir)
    if args.check:
        problems = [
            f"{e['name']}: {e.get('error_message') or e.get('label')}"
            for e in list(runs.values()) + list(b64_runs.values())
            if e.get("error_occurred") or e.get("label")
        ]
        expected = {case for case, _ in PLOT_CASES} | set(LOAD_PARTS) | {"memcpy"}
        for label in labels:
            missing = expected - set(documents[label])
            if missing:
                problems.append(f"{label}: no result for {', '.join(sorted(missing))}")
        if not labels:
            problems.append("no document results")
        if args.base64 and not b64:
            problems.append("no Base64 results")
        for problem in problems:
            print("problem: " + problem, file=sys.stderr)
        if problems:
            sys.exit(1)


if __name__ == "__main__":
    main()
