#!/usr/bin/env python3
"""Summarises bench/run's runs: medians per downloader and ratios to the best
of the others, as a Markdown table.

    summarize.py RUNS.tsv PAYLOAD_BYTES FILES [IDLE_RSS_KIB IDLE_USER_S IDLE_SYSTEM_S]

RUNS.tsv: tool, round, wall seconds, user seconds, system seconds, peak RSS
in KiB (or "fail" in the third column). IDLE_*: Corvane's window and engine
started and closed without a download, for scale.
"""
import statistics
import sys

NAMES = {"corvane": "Corvane", "aria2c": "aria2c", "transmission": "transmission-cli"}


def main():
    path, payload, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    runs, failed = {}, {}
    with open(path) as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) < 3:
                continue
            tool = cols[0]
            runs.setdefault(tool, [])
            if cols[2] == "fail":
                failed[tool] = failed.get(tool, 0) + 1
                continue
            wall, user, sys_, rss = float(cols[2]), float(cols[3]), float(cols[4]), int(cols[5])
            runs[tool].append((payload / 2**20 / wall, user + sys_, rss / 1024, wall))

    med = {}
    for tool, rows in runs.items():
        if rows:
            med[tool] = tuple(statistics.median(r[i] for r in rows) for i in range(4))

    def best_other(tool, i, pick):
        vals = [m[i] for t, m in med.items() if t != tool]
        return pick(vals) if vals else None

    print("Download of %.0f MiB (%d files) from one aria2c seeder on loopback; "
          "medians of %s runs each." % (payload / 2**20, files, max(len(r) + failed.get(t, 0) for t, r in runs.items())))
    print()
    print("| downloader | MiB/s | wall s | CPU s | peak RSS MiB | speed vs best other | CPU vs best other | RSS vs best other |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for tool in ["corvane", "aria2c", "transmission"]:
        if tool not in runs:
            continue
        note = " (%d failed)" % failed[tool] if tool in failed else ""
        if tool not in med:
            print("| %s%s | – | – | – | – | – | – | – |" % (NAMES[tool], note))
            continue
        speed, cpu, rss, wall = med[tool]
        bs = best_other(tool, 0, max)
        bc = best_other(tool, 1, min)
        br = best_other(tool, 2, min)
        ratio = lambda a, b: "%.2fx" % (a / b) if b else "–"
        print("| %s%s | %.1f | %.2f | %.2f | %.1f | %s | %s | %s |" % (
            NAMES[tool], note, speed, wall, cpu, rss, ratio(speed, bs), ratio(cpu, bc), ratio(rss, br)))
    if len(sys.argv) > 6:
        print()
        print("Corvane's window and engine alone (started, no download, closed): "
              "%.1f MiB peak RSS, %.2f CPU s." % (int(sys.argv[4]) / 1024, float(sys.argv[5]) + float(sys.argv[6])))
    print()
    print("Speed ratio above 1 is faster than the fastest other; CPU and RSS ratios "
          "below 1 are cheaper than the cheapest other.")


if __name__ == "__main__":
    main()
