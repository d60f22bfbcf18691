#!/usr/bin/env python3
"""Runs every pair of bench/pairs.txt and prints ours / reference as a table.

Each program is run once per round with only the benchmarks its pairs name,
in a new random order, pinned to the given processors; a round's ratio is
taken from times measured in that same process run, minutes apart at most,
so that the machine's drift between rounds cancels out.  The table gives the minimum, median and maximum
of the ratios over the rounds, the limit, and whether the median keeps it.

A pair may name an environment (VAR=value ...) its program runs in: the
engine a benchmark is to measure, and the instructions the reference may
use.  The table's header names the processor and the instruction-set
extensions the engines choose between.

    tools/bench-compare.py BUILD_DIR [--rounds N] [--cpus LIST] [--only PROGRAM...]
                                     [--min-time SECONDS] [--repetitions N] [--pairs FILE]
                                     [--readme [FILE]] [--json OUT] [--without-avx512]

--readme writes the table into FILE (bench/README.md when none is named)
between its bench-compare markers, which keep one table per processor and
pairs file: a run replaces its own and leaves the others.  Each table's
header names the command that made it.

--repetitions N runs each benchmark N times a round, the runs of all of a
program's benchmarks in one shuffled order, and keeps each one's fastest:
on a shared machine, what else runs only ever adds time to a run.

--without-avx512 runs every program as on a processor without AVX-512: our
engines (QOR_CPU_DISABLE) and glibc's string and memory functions
(GLIBC_TUNABLES) take their AVX2 code.  The other references here use no
AVX-512 but Vectorscan, whose runtime asks the processor itself and keeps it.
"""
import argparse
import datetime
import json
import os
import platform
import re
import shlex
import statistics
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_PAIRS = os.path.join("bench", "pairs.txt")
# How every table's header line starts.
HEADER = "Ratios ours / reference"


def read_pairs(path):
    pairs = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = [x.strip() for x in line.split("|")]
            if len(fields) == 6:
                fields.append("")
            if len(fields) != 7 or fields[4] not in ("cpu", "real") or \
                    any("=" not in v for v in fields[6].split()):
                sys.exit(f"{path}:{number}: expected 'program | ours | reference | limit | cpu|real | text"
                         f" [| VAR=value ...]'")
            program, ours, ref, limit, clock, text, env = fields
            # A limit of "-" marks a row shown for comparison only: an
            # alternative the library measured and did not choose.
            try:
                limit = None if limit == "-" else float(limit)
            except ValueError:
                sys.exit(f"{path}:{number}: the limit is a number or '-'")
            pairs.append({"program": program, "ours": ours, "ref": ref, "limit": limit, "clock": clock,
                          "text": text, "env": " ".join(env.split())})
    return pairs


# The instruction-set extensions the library's engines choose between, as
# /proc/cpuinfo names them.
EXTENSIONS = [("sha_ni", "SHA-NI"), ("avx2", "AVX2"), ("bmi2", "BMI2"), ("avx512f", "AVX-512F"),
              ("avx512vl", "AVX-512VL"), ("avx512bw", "AVX-512BW"), ("avx512_vnni", "AVX-512 VNNI"),
              ("pclmulqdq", "PCLMULQDQ"), ("vpclmulqdq", "VPCLMULQDQ"), ("sse4_2", "SSE4.2")]


def cpu_flags():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return set()


# What --without-avx512 sets for every program.
WITHOUT_AVX512 = ("QOR_CPU_DISABLE=avx512 "
                  "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX512F,-AVX512VL,-AVX512BW,-AVX512DQ,-AVX512CD")


def run_round(exe, names, cpus, min_time, env="", repetitions=1):
    # A benchmark registered with its own MinTime() is reported with it in
    # its name ("BM_X/min_time:2.000"); the pairs name it without.
    pattern = "^(" + "|".join(re.escape(n) for n in sorted(names)) + ")(/min_time:[0-9.]+)?$"
    # Google Benchmark runs a program's benchmarks in the order they are
    # registered, which puts one side of a pair first in every round; the
    # random order gives each side the first place as often as the other.
    cmd = [exe, "--benchmark_filter=" + pattern, "--benchmark_format=json",
           "--benchmark_enable_random_interleaving=true"]
    if min_time:
        cmd.append("--benchmark_min_time=" + min_time)
    if repetitions > 1:
        # The repetitions of all the benchmarks run in one shuffled order,
        # and each benchmark keeps its fastest: what else runs on a shared
        # machine only ever adds time to a repetition.
        cmd += ["--benchmark_repetitions=" + str(repetitions), "--benchmark_report_aggregates_only=false"]
    if cpus:
        cmd = ["taskset", "-c", cpus] + cmd
    environment = dict(os.environ)
    environment.update(v.split("=", 1) for v in env.split())
    out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False,
                         env=environment).stdout
    try:
        report = json.loads(out)
    except ValueError:
        return {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    times = {}
    for b in report.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
            continue
        unit = scale.get(b.get("time_unit", "ns"), 1e-9)
        name = re.sub(r"/min_time:[0-9.]+$", "", b.get("run_name", b["name"]))
        t = times.setdefault(name, {"cpu": float("inf"), "real": float("inf")})
        t["cpu"] = min(t["cpu"], float(b["cpu_time"]) * unit)
        t["real"] = min(t["real"], float(b["real_time"]) * unit)
    return times


def processor_model():
    """The processor's name, with its family and model numbers: a virtual
    machine may name only the maker ("Intel(R) Xeon(R) Processor")."""
    info = {}
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if not line.strip():
                    break
                key, _, value = line.partition(":")
                info.setdefault(key.strip(), value.strip())
    except OSError:
        pass
    model = info.get("model name") or platform.processor() or "?"
    if "cpu family" in info and "model" in info:
        model += f" (family {info['cpu family']}, model {info['model']})"
    return model


def processor_name(without_avx512=False):
    return processor_model() + (" with AVX-512 masked" if without_avx512 else "")


def machine_line(cpus, without_avx512=False):
    model = processor_name(without_avx512)
    load = ""
    try:
        load = " load " + " ".join(open("/proc/loadavg", encoding="utf-8").read().split()[:3])
    except OSError:
        pass
    pinned = f"pinned to CPU {cpus}" if cpus else "not pinned"
    flags = cpu_flags()
    if without_avx512:
        flags = {f for f in flags if not f.startswith("avx512")}
    has = [name for flag, name in EXTENSIONS if flag in flags]
    lacks = [name for flag, name in EXTENSIONS if flag not in flags]
    isa = "extensions: " + (", ".join(has) or "none of those the engines use")
    if lacks:
        isa += "; without " + ", ".join(lacks)
    return (f"{model}, {os.cpu_count()} logical CPUs, {platform.system()} {platform.release()}, {isa}, "
            f"{pinned},{load}, {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC")


def over(pair):
    """True when the pair has run, has a limit and its median passes it."""
    return bool(pair["ratios"]) and pair["limit"] is not None and statistics.median(pair["ratios"]) > pair["limit"]


def heading(machine_name, pairs):
    """The line that names a table's machine (and its pairs file, when it is
    not the default one) above it."""
    return "### " + machine_name + ("" if pairs == DEFAULT_PAIRS else f", {pairs}")


def table(results, rounds, machine, repetitions=1, command="", name="", pairs=DEFAULT_PAIRS):
    each = f", each benchmark the fastest of {repetitions} runs a round" if repetitions > 1 else ""
    made = f" Made by: `{command}`." if command else ""
    lines = ([heading(name, pairs), ""] if name else []) + [
        f"{HEADER} over {rounds} rounds{each} (below 1: ours is faster). Machine: {machine}.{made}",
        "",
        "| program | pair | clock | min | median | max | limit | |",
        "|---|---|---|---|---|---|---|---|"]
    for r in results:
        limit = "-" if r["limit"] is None else f"{r['limit']:.2f}"
        if not r["ratios"]:
            lines.append(f"| {r['program']} | {r['text']} | {r['clock']} | - | - | - | {limit} | not run |")
            continue
        med = statistics.median(r["ratios"])
        verdict = "for comparison" if r["limit"] is None else "OVER" if over(r) else "ok"
        lines.append(f"| {r['program']} | {r['text']} | {r['clock']} | {min(r['ratios']):.3f} | {med:.3f} | "
                     f"{max(r['ratios']):.3f} | {limit} | {verdict} |")
    return "\n".join(lines)


def command_line(argv, build):
    """The command a table was made by, as a reader would type it again:
    through tools/bench (which names itself in QOR_BENCH_COMMAND) or this
    script, with the arguments that followed, the build folder left out
    where tools/bench supplied it."""
    front = os.environ.get("QOR_BENCH_COMMAND")
    args = list(argv)
    if front:
        if build in args:
            args.remove(build)
        return " ".join([front] + [shlex.quote(a) for a in args])
    return " ".join(["tools/bench-compare.py"] + [shlex.quote(a) for a in args])


def pairs_name(path):
    """A pairs file as the tables name it: relative to the source tree."""
    return os.path.normpath(os.path.relpath(os.path.abspath(path), TOP))


def pairs_of(table_text):
    """The pairs file a table was measured with, from the command in its
    header; the default one where the header names none (or no command)."""
    m = re.search(r"Made by: `([^`]*)`", table_text)
    if not m:
        return DEFAULT_PAIRS
    try:
        words = shlex.split(m.group(1))
    except ValueError:
        return DEFAULT_PAIRS
    for i, w in enumerate(words):
        if w == "--pairs" and i + 1 < len(words):
            return pairs_name(words[i + 1])
        if w.startswith("--pairs="):
            return pairs_name(w.split("=", 1)[1])
    return DEFAULT_PAIRS


def processor_of(table_text):
    """The processor a table was measured on, as its header names it: the
    maker's name, the family and model numbers (which older headers lack)
    and whether AVX-512 was masked."""
    m = re.search(r"Machine: (.*?), \d+ logical CPUs", table_text)
    return m.group(1) if m else None


def same_processor(a, b):
    """Whether two headers name one processor.  A virtual machine may give
    only the maker's name, so the family and model numbers tell processors
    apart where both headers have them; against an older header without
    them the names alone are compared."""
    if a is None or b is None:
        return a == b
    if "(family" in a and "(family" in b:
        return a == b
    strip = lambda name: re.sub(r" \(family [^)]*\)", "", name)
    return strip(a) == strip(b)


def split_tables(block):
    """The tables of a bench-compare block, each with the heading above it
    where it has one."""
    tables, current = [], []
    for line in block.split("\n"):
        header = line.startswith(HEADER)
        has_heading = any(x.startswith("### ") for x in current)
        has_header = any(x.startswith(HEADER) for x in current)
        if current and (line.startswith("### ") or (header and (has_header or not has_heading))):
            tables.append("\n".join(current).strip())
            current = []
        current.append(line)
    tables.append("\n".join(current).strip())
    return [t for t in tables if t]


def same_table(a, b):
    """Whether two tables are runs of one pairs file on one processor."""
    return same_processor(processor_of(a), processor_of(b)) and pairs_of(a) == pairs_of(b)


def update_readme(path, text):
    begin, end = "<!-- bench-compare:begin -->", "<!-- bench-compare:end -->"
    with open(path, encoding="utf-8") as f:
        old = f.read()
    if begin not in old or end not in old:
        sys.exit(f"{path}: no {begin} ... {end} block")
    # The block keeps one table per processor and pairs file: a run replaces
    # its own table where it stands and leaves the others'; a table new to
    # the block goes at its end.
    start, stop = old.index(begin) + len(begin), old.index(end)
    tables = split_tables(old[start:stop])
    mine = [i for i, t in enumerate(tables) if same_table(t, text)]
    tables = [t for i, t in enumerate(tables) if i not in mine[1:]]
    if mine:
        tables[mine[0]] = text
    else:
        tables.append(text)
    new = old[:start] + "\n" + "\n\n".join(tables) + "\n" + old[stop:]
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--cpus", default="2")
    ap.add_argument("--only", nargs="*", default=[])
    ap.add_argument("--min-time", default="", help="seconds each benchmark runs at least (Google Benchmark's default: 0.5)")
    ap.add_argument("--repetitions", type=int, default=1,
                    help="runs of each benchmark in a round, shuffled among the others'; the fastest counts")
    ap.add_argument("--pairs", default=os.path.join(TOP, "bench", "pairs.txt"))
    ap.add_argument("--readme", nargs="?", const=os.path.join(TOP, "bench", "README.md"))
    ap.add_argument("--json")
    ap.add_argument("--without-avx512", action="store_true")
    args = ap.parse_args()

    pairs = [p for p in read_pairs(args.pairs) if not args.only or any(p["program"].startswith(o) for o in args.only)]
    # One process per program and environment each round (an environment
    # picks an engine, for ours and for the reference alike).
    runs = []
    for p in pairs:
        if (p["program"], p["env"]) not in runs:
            runs.append((p["program"], p["env"]))
    for p in pairs:
        p["ratios"] = []
    for rnd in range(args.rounds):
        for program, env in runs:
            exe = os.path.join(args.build, "bench", "bench_" + program)
            mine = [p for p in pairs if p["program"] == program and p["env"] == env]
            if not os.path.exists(exe):
                continue
            names = {p["ours"] for p in mine} | {p["ref"] for p in mine}
            times = run_round(exe, names, args.cpus, args.min_time,
                              (WITHOUT_AVX512 + " " + env) if args.without_avx512 else env, args.repetitions)
            for p in mine:
                a, b = times.get(p["ours"]), times.get(p["ref"])
                if a and b and b[p["clock"]] > 0:
                    p["ratios"].append(a[p["clock"]] / b[p["clock"]])
            print(f"round {rnd + 1}/{args.rounds}: {program} {env}".rstrip(), file=sys.stderr)
    text = table(pairs, args.rounds, machine_line(args.cpus, args.without_avx512), args.repetitions,
                 command_line(sys.argv[1:], args.build),
                 processor_name(args.without_avx512),
                 pairs_name(args.pairs))
    print(text)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(pairs, f, indent=1)
    if args.readme:
        update_readme(args.readme, text)
    return 1 if any(over(p) for p in pairs) else 0


if __name__ == "__main__":
    sys.exit(main())
