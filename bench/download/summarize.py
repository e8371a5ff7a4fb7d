#!/usr/bin/env python3
"""Prints the download benchmark's table and its goals from run.sh's results.

Usage: summarize.py RESULTS.tsv STALL_USER STALL_SYS STALL_SECONDS
"""
import csv
import statistics
import sys
from collections import defaultdict

TITLES = {
    "A": "A: 512 MiB, unthrottled, byte ranges",
    "B": "B: 64 MiB, 2 MiB/s per connection (limit_rate 2m)",
    "C": "C: 64 MiB, Range ignored (max_ranges 0)",
}


def load(path):
    runs = defaultdict(dict)  # (scenario, tool) -> rep -> row
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            for key in ("ok", "requests", "peak_kib"):
                row[key] = int(row[key])
            for key in ("wall", "cpu"):
                row[key] = float(row[key])
            runs[(row["scenario"], row["tool"])][row["rep"]] = row
    return runs


def ratio(runs, scenario, tool, other, key):
    """Median over repetitions of tool's value over other's, ok runs only."""
    mine, theirs = runs.get((scenario, tool), {}), runs.get((scenario, other), {})
    pairs = [mine[r][key] / theirs[r][key] for r in mine
             if r in theirs and mine[r]["ok"] and theirs[r]["ok"] and theirs[r][key] > 0]
    return statistics.median(pairs) if pairs else None


def fmt(value, digits=2):
    return "-" if value is None else f"{value:.{digits}f}"


def main():
    runs = load(sys.argv[1])
    stall_cpu = float(sys.argv[2]) + float(sys.argv[3])
    stall_seconds = float(sys.argv[4])
    scenarios = sorted({s for s, _ in runs})
    for s in scenarios:
        print(f"\n{TITLES.get(s, s)} (medians of the ok runs; ratios paired per repetition)")
        print(f"  {'tool':<11} {'ok':>5} {'wall_s':>7} {'cpu_s':>6} {'peak_MiB':>8} {'reqs':>5}"
              f" {'wall/curl':>9} {'cpu/curl':>8} {'wall/aria2c':>11} {'cpu/aria2c':>10}")
        for (scenario, tool), reps in sorted(runs.items()):
            if scenario != s:
                continue
            ok = [r for r in reps.values() if r["ok"]]
            med = (lambda k: statistics.median(r[k] for r in ok)) if ok else (lambda k: None)
            peak = max(r["peak_kib"] for r in ok) / 1024 if ok else None
            print(f"  {tool:<11} {len(ok)}/{len(reps):<3} {fmt(med('wall')):>7} {fmt(med('cpu')):>6}"
                  f" {fmt(peak, 1):>8} {fmt(med('requests'), 0):>5}"
                  f" {fmt(ratio(runs, s, tool, 'curl', 'wall')):>9}"
                  f" {fmt(ratio(runs, s, tool, 'curl', 'cpu')):>8}"
                  f" {fmt(ratio(runs, s, tool, 'aria2c', 'wall')):>11}"
                  f" {fmt(ratio(runs, s, tool, 'aria2c', 'cpu')):>10}")
        for (scenario, tool), reps in sorted(runs.items()):
            for r in reps.values():
                if scenario == s and not r["ok"]:
                    print(f"  ! {tool} #{r['rep']}: failed (exit status or checksum)")

    def goal(text, value, limit, below=True):
        if value is None:
            print(f"  ?    {text}: not measured")
            return
        met = value <= limit if below else value >= limit
        print(f"  {'met ' if met else 'MISS'} {text}: {value:.2f} ({'<=' if below else '>='} {limit})")

    print("\nGoals (multidl -n 5)")
    if "B" in scenarios:
        goal("B wall / aria2c", ratio(runs, "B", "multidl", "aria2c", "wall"), 1.05)
        curl_over = ratio(runs, "B", "curl", "multidl", "wall")
        goal("B curl wall / multidl wall", curl_over, 5.5, below=False)
    if "A" in scenarios:
        goal("A default (64 KiB) wall / aria2c", ratio(runs, "A", "multidl", "aria2c", "wall"), 1.0)
        goal("A default (64 KiB) cpu / curl", ratio(runs, "A", "multidl", "curl", "cpu"), 1.3)
        goal("A 8 KiB blocks wall / aria2c", ratio(runs, "A", "multidl-8k", "aria2c", "wall"), 1.5)
        ok = [r for r in runs.get(("A", "multidl"), {}).values() if r["ok"]]
        goal("A peak memory MiB", max(r["peak_kib"] for r in ok) / 1024 if ok else None, 32)
    if "C" in scenarios:
        reps = runs.get(("C", "multidl"), {})
        print(f"  {'met ' if reps and all(r['ok'] for r in reps.values()) else 'MISS'}"
              f" C correct bytes in every run")
        goal("C wall / curl", ratio(runs, "C", "multidl", "curl", "wall"), 1.2)
    goal(f"stalled server, share of a core over {stall_seconds:.0f} s",
         stall_cpu / stall_seconds, 0.02)


if __name__ == "__main__":
    main()
