#!/usr/bin/env python3
"""Turns bench.py's results.json into Markdown: per case and downloader the
medians (with min..max where runs spread), the pair ratios Corvane vs aria2c,
the targets met or not, and the machine's limits measured in the same run.

    summarize.py results.json
"""
import json
import statistics
import sys

NAMES = {"corvane": "Corvane", "aria2c": "aria2c"}
# Time to data complete at least this many times faster than aria2c.
SPEED_TARGET = {"1g-1": 1.7, "1g-4": 1.7, "4g-1": 1.4}
RSS_TARGET_MIB = 64  # with the 1 GiB cases
GIB = 1 << 30


def med(xs):
    return statistics.median(xs) if xs else None


def spread(xs, fmt="%.2f"):
    if not xs:
        return "–"
    s = fmt % med(xs)
    if len(xs) > 1:
        s += (" (" + fmt + "–" + fmt + ")") % (min(xs), max(xs))
    return s


def main():
    with open(sys.argv[1]) as f:
        res = json.load(f)
    lim = res["limits"]
    print("Machine limits measured in this run: SHA-1 %.2f GB/s on one core (%.2f s/GiB); "
          "1 GiB copied with fsync %.2f s; loopback TCP %.2f s/GiB (%.0f Gbit/s)." % (
              lim["sha1_gbs"], GIB / 1e9 / lim["sha1_gbs"], lim["copy_fsync_s"], lim["tcp_s_per_gib"],
              GIB * 8 / lim["tcp_s_per_gib"] / 1e9))
    if "load" in res:
        print("Load average (1 min) at the start and end of the downloads: %.1f and %.1f (%d cores)." % (
            res["load"][0], res["load"][1], res.get("cores", 0)))
    print()
    print("| case | downloader | data complete s | first data s | process wall s | CPU s | CPU s/GiB | peak RSS MiB | ok |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    verdicts = []
    pair_lines = []
    for case in res["cases"]:
        rows = [r for r in res["runs"] if r["case"] == case["name"]]
        gib = case["bytes"] / GIB
        per = {}
        for tool in ["corvane", "aria2c"]:
            good = [r for r in rows if r["tool"] == tool and r["ok"]]
            n = len([r for r in rows if r["tool"] == tool])
            per[tool] = good
            print("| %s | %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
                case["title"], NAMES[tool], spread([r["data_s"] for r in good]),
                spread([r["first_data_s"] for r in good if r["first_data_s"] is not None]),
                spread([r["wall_s"] for r in good]), spread([r["cpu_s"] for r in good]),
                spread([r["cpu_s"] / gib for r in good]), spread([r["rss_mib"] for r in good], "%.1f"),
                len(good), n))
        # Pairs: the two runs of the same round.
        ratios, cpu_ratios = [], []
        for rnd in sorted({r["round"] for r in rows}):
            pair = {r["tool"]: r for r in rows if r["round"] == rnd and r["ok"]}
            if len(pair) == 2:
                ratios.append(pair["aria2c"]["data_s"] / pair["corvane"]["data_s"])
                cpu_ratios.append(pair["corvane"]["cpu_s"] / pair["aria2c"]["cpu_s"])
        if ratios:
            pair_lines.append("- %s: Corvane reaches data complete %s times as fast as aria2c; "
                              "uses %s times its CPU (medians of %d pairs, min–max)." % (
                                  case["title"], spread(ratios), spread(cpu_ratios), len(ratios)))
            target = SPEED_TARGET.get(case["name"])
            if target:
                verdicts.append("- %s: speed >= %.1fx aria2c: %s (median %.2fx)." % (
                    case["title"], target, "met" if med(ratios) >= target else "NOT met", med(ratios)))
            c = med([r["cpu_s"] for r in per["corvane"]])
            a = med([r["cpu_s"] for r in per["aria2c"]])
            verdicts.append("- %s: CPU per GiB <= aria2c's: %s (%.2f vs %.2f s/GiB)." % (
                case["title"], "met" if c <= a else "NOT met", c / gib, a / gib))
        if case["payload"] == "1g" and per["corvane"]:
            peak = max(r["rss_mib"] for r in per["corvane"])
            verdicts.append("- %s: peak RSS <= %d MiB: %s (highest %.1f MiB)." % (
                case["title"], RSS_TARGET_MIB, "met" if peak <= RSS_TARGET_MIB else "NOT met", peak))
    print()
    print("Medians, with min–max over the runs. Data complete: from the .torrent in hand (aria2c: its start; "
          "Corvane: the folder picker answered) until every file is whole on disk and checked byte for byte. "
          "First data: until the first block reached a file. Process: the downloader's own process from start "
          "to exit (Corvane's includes its start-up, the fetches and the folder picker typed in by xdotool, and "
          "it is closed once the data has been checked).")
    cv = [r for r in res["runs"] if r["tool"] == "corvane" and r["ok"]]
    if cv:
        print()
        print("Corvane: folder picker up after %s s, answered after %s s; exit %s s after Close." % (
            spread([r["picker_shown_s"] for r in cv]), spread([r["picker_answered_s"] for r in cv]),
            spread([r["stop_s"] for r in cv])))
        idle = res.get("idle", {})
        if idle.get("ok"):
            print("Corvane started, its folder picker cancelled (window, fetches, no download): "
                  "%.1f MiB peak RSS, %.2f CPU s." % (idle["rss_mib"], idle["cpu_s"]))
        q = sum(1 for r in cv if r.get("close_question"))
        if q:
            print("%d of its runs asked whether to close an unfinished download (the engine had not yet "
                  "counted the data complete); answered Yes." % q)
    print()
    print("Pair ratios (each round: one Corvane run and one aria2c run, alternating which goes first):")
    print()
    print("\n".join(pair_lines))
    print()
    print("Targets:")
    print()
    print("\n".join(verdicts))


if __name__ == "__main__":
    main()
