#!/usr/bin/env python3
"""Turns a tesselsim_bench JSON file into the Markdown report of bench/results/.

usage: report.py results.json results.md "load before" "load after" "peak memory lines"
"""
import json
import os
import platform
import re
import shlex
import subprocess
import sys

STEP_STAGES = ["snapshots", "heat", "gas_pressure", "gas_mixing", "merge_outputs",
               "liquid_flow", "liquid_mixing", "disease_spread", "components", "vent", "settle", "growth"]
CYCLE_STAGES = ["apply", "steps", "publish", "other", "handshake"]
PUBLISH_STAGES = ["row_copies", "component_outputs", "lists", "changed_cells", "accumulator", "flow_vectors",
                  "liquid_colours", "light_levels"]


def run(cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor()


def memory_gib():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                return int(line.split()[1]) / 1048576
    return 0


def compile_flags(root):
    """The flags the library's heat pass is compiled with (paths left out)."""
    try:
        with open(os.path.join(root, "build/default/compile_commands.json")) as f:
            commands = json.load(f)
    except OSError:
        return "?"
    for entry in commands:
        if entry["file"].endswith("src/simlib/heatpass.cpp"):
            args = shlex.split(entry["command"])[1:]
            keep, skip = [], False
            for a in args:
                if skip:
                    skip = False
                    continue
                if a in ("-o", "-c", "-MF", "-MT", "-isystem"):
                    skip = True
                    continue
                if a.startswith(("-I", "-D", "-MD", "/")) or a.endswith(".cpp"):
                    continue
                keep.append(a)
            return " ".join(keep)
    return "?"


def parse(name):
    kind, scene, size, workers = name.split("/")[:4]
    w, h = size.split("x")
    return kind, scene, int(w), int(h), int(workers[1:])


def fmt(v, digits=1):
    return f"{v:.{digits}f}"


def main():
    src, dst, load_before, load_after, peak = sys.argv[1:6]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(src) as f:
        data = json.load(f)
    rows = []
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        kind, scene, w, h, workers = parse(b["name"])
        rows.append(dict(b, kind=kind, scene=scene, w=w, h=h, workers=workers))
    steps = [r for r in rows if r["kind"] == "Step"]
    cycles = [r for r in rows if r["kind"] == "HostCycle"]
    commit = run(["git", "-C", root, "describe", "--always", "--dirty"])
    out = []
    out.append(f"# Benchmark results {os.path.basename(dst)[:-3]}\n")
    out.append(f"- commit: `{commit}`")
    out.append(f"- machine: {platform.node()}, {os.cpu_count()} logical cores, {cpu_model()}, "
               f"{memory_gib():.0f} GiB, Linux {platform.release()}")
    out.append(f"- compiler: {run(['c++', '--version']).splitlines()[0] if run(['c++', '--version']) else '?'}")
    out.append(f"- library flags: `{compile_flags(root)}`")
    out.append(f"- load average (1, 5, 15 min) before: {load_before}, after: {load_after}")
    out.append("- method: steady state after warm-up steps; `copies` = median iteration / median yardstick "
               "measured in the same run (step: one Snapshot of the ten cell arrays; host cycle: one memcpy of "
               "22 bytes per game cell), in wall time; `cpu copies` the same in CPU time of the whole process "
               "(all threads), which does not count the time spent waiting for a core. Stage columns are wall-time "
               "means over the same iterations. The machine is shared: absolute times are noise, compare ratios "
               "within one run.\n")

    out.append("## Step\n")
    out.append("| scene | size | workers | iters | ns/cell | copies | (mean) | cpu ns/cell | cpu copies | pairs/cell | " +
               " | ".join(STEP_STAGES) + " |")
    out.append("|" + "---|" * (10 + len(STEP_STAGES)))
    for r in steps:
        out.append(f"| {r['scene']} | {r['w']}x{r['h']} | {r['workers']} | {r['iterations']} | "
                   f"{fmt(r['ns_per_cell'])} | **{fmt(r['copies'])}** | {fmt(r['copies_mean'])} | "
                   f"{fmt(r['cpu_ns_per_cell'])} | **{fmt(r['cpu_copies'])}** | "
                   f"{fmt(r['pairs_per_cell'], 2)} | " +
                   " | ".join(fmt(r['c_' + s]) for s in STEP_STAGES) + " |")

    out.append("\n## Host cycle (frames of dt 0.2 through SIM_HandleMessage)\n")
    out.append("| scene | size | workers | iters | cycles/s | ns/cell | copies | (mean) | cpu copies | " +
               " | ".join(CYCLE_STAGES) + " |")
    out.append("|" + "---|" * (9 + len(CYCLE_STAGES)))
    for r in cycles:
        out.append(f"| {r['scene']} | {r['w']}x{r['h']} | {r['workers']} | {r['iterations']} | "
                   f"{fmt(r['cycles_per_s'], 2)} | {fmt(r['ns_per_cell'])} | **{fmt(r['copies'])}** | "
                   f"{fmt(r['copies_mean'])} | **{fmt(r['cpu_copies'])}** | " + " | ".join(fmt(r['c_' + s]) for s in CYCLE_STAGES) + " |")
    out.append("\nPublication, in copies:\n")
    out.append("| scene | size | workers | " + " | ".join(PUBLISH_STAGES) + " |")
    out.append("|" + "---|" * (3 + len(PUBLISH_STAGES)))
    for r in cycles:
        out.append(f"| {r['scene']} | {r['w']}x{r['h']} | {r['workers']} | " +
                   " | ".join(fmt(r['p_' + s], 2) for s in PUBLISH_STAGES) + " |")

    out.append("\n## Cost per cell across sizes (step, 1 worker)\n")
    for scene in ("settled", "mixed"):
        series = sorted((r["w"] * r["h"], r) for r in steps if r["scene"] == scene and r["workers"] == 1)
        if not series:
            continue
        ref = next((r["cpu_ns_per_cell"] for _, r in series if r["w"] == 1024), series[-1][1]["cpu_ns_per_cell"])
        cells = ", ".join(f"{r['w']}x{r['h']} {fmt(r['ns_per_cell'])} ns, cpu {fmt(r['cpu_ns_per_cell'])} ns "
                          f"({fmt(100 * r['cpu_ns_per_cell'] / ref - 100, 0)} %)" for _, r in series)
        out.append(f"- {scene}: {cells} (cpu, relative to 1024 x 1024)")

    if peak.strip():
        out.append("\n## Peak memory\n")
        for line in peak.strip().splitlines():
            out.append(f"- {line}")

    out.append("\n## Targets\n")

    def find(kind, scene, w, workers):
        for r in rows:
            if r["kind"] == kind and r["scene"] == scene and r["w"] == w and r["workers"] == workers:
                return r
        return None

    def check(text, value, limit, below=True, wall=None):
        if value is None:
            out.append(f"- {text}: not run")
            return
        ok = value <= limit if below else value >= limit
        extra = f", wall time {fmt(wall)}" if wall is not None else ""
        out.append(f"- {text}: {fmt(value)}{extra} ({'met' if ok else 'not met'}, target "
                   f"{'<=' if below else '>='} {limit})")

    s = find("Step", "settled", 1024, 1)
    check("settled 1024x1024 step, 1 worker, cpu copies", s and s["cpu_copies"], 8, wall=s and s["copies"])
    c = find("HostCycle", "settled", 1024, 1)
    check("settled 1024x1024 whole cycle, 1 worker, cpu copies", c and c["cpu_copies"], 10, wall=c and c["copies"])
    c = find("HostCycle", "settled", 4096, 2)
    check("settled 4096x4096 cycles/s, 2 workers", c and c["cycles_per_s"], 5, below=False)
    for workers, limit in ((1, 30), (2, 22)):
        s = find("Step", "mixed", 1024, workers)
        check(f"mixed 1024x1024 step, {workers} worker(s), cpu copies", s and s["cpu_copies"], limit,
              wall=s and s["copies"])
    c = find("HostCycle", "mixed", 1024, 1)
    if c:
        # Within the one benchmark: the mean cycle over the mean time of its step.
        check("mixed 1024x1024 whole cycle / its step (wall-time means), 1 worker",
              c["copies_mean"] / c["c_steps"], 1.3)
    for scene in ("settled", "mixed"):
        series = [r["cpu_ns_per_cell"] for r in steps if r["scene"] == scene and r["workers"] == 1]
        if len(series) > 1:
            mid = sorted(series)[len(series) // 2]
            spread = max(abs(v / mid - 1) for v in series) * 100
            check(f"{scene}: cpu cost per cell across sizes, largest deviation from the median, %", spread, 25)
    m = re.findall(r"([\d.]+) bytes per cell", peak)
    if m:
        check("peak memory 4096x4096 with result buffers, B/cell (largest scene)", max(float(v) for v in m), 160)
    out.append("- bit-identical results for 1, 2, 3, 4 and 8 workers: the pinned determinism test "
               "(tests/unit/determinism_test.cpp)")
    with open(dst, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
