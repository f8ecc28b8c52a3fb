#!/usr/bin/env python3
"""Turns the files bench/compare/run.sh wrote into report.md (Markdown).

    report.py OUT_DIR FEEDS RUNS SLOTS IDLE_FEEDS
"""
import json
import os
import statistics
import sys


def gnu_time(path):
    """Wall, user, system seconds and peak RSS (KiB) from `/usr/bin/time -v`."""
    values = {}
    for line in open(path, encoding="utf-8"):
        key, _, value = line.strip().rpartition(": ")
        values[key] = value
    wall = 0.0
    for piece in values["Elapsed (wall clock) time (h:mm:ss or m:ss)"].split(":"):
        wall = wall * 60 + float(piece)
    return {"wall": wall, "user": float(values["User time (seconds)"]),
            "sys": float(values["System time (seconds)"]),
            "rss": int(values["Maximum resident set size (kbytes)"]),
            "status": int(values.get("Exit status", "0"))}


def corvane_items(path):
    ok = items = 0
    for line in open(path, encoding="utf-8"):
        parts = line.rstrip("\n").split("\t")
        if len(parts) >= 3 and parts[2] == "ok":
            ok += 1
        if len(parts) >= 2 and parts[1].endswith(" items"):
            items += int(parts[1].split()[0])
    return ok, items


def spread(values, fmt):
    med = statistics.median(values)
    if len(values) == 1:
        return fmt.format(med)
    return fmt.format(med) + " (" + fmt.format(min(values)) + "–" + fmt.format(max(values)) + ")"


def main():
    out, feeds, runs, slots, idle_feeds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    w = print
    w("## Machine\n")
    w("```")
    w(open(os.path.join(out, "machine.txt"), encoding="utf-8").read().rstrip())
    w("```\n")

    cv = json.loads(open(os.path.join(out, "corvane-parse.json")).read().strip().splitlines()[-1])
    fp = json.loads(open(os.path.join(out, "feedparser-parse.json")).read().strip().splitlines()[-1])
    w("## Parsing\n")
    w(f"{cv['files']} files, {cv['bytes'] / 1048576:.2f} MiB, read from memory; best of the timed passes "
      f"(median in brackets). Corvane without the per-element pause.\n")
    w("| reader | passes | files/s | MiB/s | items read | ratio |")
    w("|---|---:|---:|---:|---:|---:|")
    for name, r in (("Corvane FeedDocumentReader (repair + SAX), no pause", cv), (fp["reader"], fp)):
        w(f"| {name} | {r['rounds']} | {r['files_per_second']:.0f} ({r['files_per_second_median']:.0f}) | "
          f"{r['bytes'] / 1048576 / r['best_seconds']:.1f} | {r['items']} | "
          f"{r['files_per_second'] / fp['files_per_second']:.1f}× |")
    w("")
    w("### Agreement\n")
    w(open(os.path.join(out, "agreement.md"), encoding="utf-8").read().rstrip())
    w("")

    w(f"## Refresh of {feeds} feeds from 127.0.0.1\n")
    rows = {}
    for prog in ("corvane", "newsboat"):
        rows[prog] = [gnu_time(os.path.join(out, f"{prog}-refresh-{r}.time")) for r in range(1, runs + 1)]
    checks = []
    for r in range(1, runs + 1):
        ok, items = corvane_items(os.path.join(out, f"corvane-refresh-{r}.out"))
        nb_items, nb_feeds = open(os.path.join(out, f"newsboat-refresh-{r}.items")).read().strip().split("|")
        requests = {}
        for prog in ("corvane", "newsboat"):
            path = os.path.join(out, f"{prog}-refresh-{r}.requests")
            requests[prog] = json.load(open(path)) if os.path.exists(path) else None

        def asked(stats):
            if stats is None:
                return "requests not counted"
            paths = ", ".join(f"{p} ×{n}" for p, n in sorted(stats["other_paths"].items(), key=lambda kv: -kv[1])[:3])
            return (f"{stats['feeds']} feed requests, {stats['other']} others" + (f" ({paths})" if paths else ""))
        checks.append(f"run {r}: Corvane {ok} feeds ok, {items} items, {asked(requests['corvane'])}; "
                      f"Newsboat {nb_feeds} feeds with items, {nb_items} items, {asked(requests['newsboat'])}")
    w(f"Median of {runs} runs each (range in brackets), interleaved; Newsboat with reload-threads {slots}, "
      f"Corvane's pool size for {feeds} subscriptions (5 + {feeds}/30).\n")
    w("| program | wall s | CPU s (user+sys) | CPU ms per feed | peak RSS MiB |")
    w("|---|---:|---:|---:|---:|")
    med = {}
    for prog, label in (("corvane", "corvanectl refresh"), ("newsboat", "newsboat -x reload")):
        t = rows[prog]
        cpu = [x["user"] + x["sys"] for x in t]
        med[prog] = {"wall": statistics.median(x["wall"] for x in t), "cpu": statistics.median(cpu),
                     "rss": statistics.median(x["rss"] for x in t) / 1024}
        w(f"| {label} | {spread([x['wall'] for x in t], '{:.1f}')} | {spread(cpu, '{:.2f}')} | "
          f"{spread([c * 1000 / feeds for c in cpu], '{:.2f}')} | {spread([x['rss'] / 1024 for x in t], '{:.1f}')} |")
    c, n = med["corvane"], med["newsboat"]
    w(f"| ratio Corvane / Newsboat | {c['wall'] / n['wall']:.1f}× | {c['cpu'] / n['cpu']:.2f}× | "
      f"{c['cpu'] / n['cpu']:.2f}× | {c['rss'] / n['rss']:.2f}× |")
    ticks = -(-feeds // slots)
    w("")
    w(f"Corvane's wall time is set by the pool's admission, by design: {slots} fetches per 3-second tick, "
      f"{ticks} ticks ≈ {ticks * 3} s for {feeds} feeds.\n")
    for line in checks:
        w(f"- {line}")
    w("")

    w(f"## Idle engine, {idle_feeds} subscriptions already refreshed\n")
    t = gnu_time(os.path.join(out, "idle-run.time"))
    run_lines = sum(1 for _ in open(os.path.join(out, "idle-run.out"), encoding="utf-8"))
    before, after, hz, seconds, rss, lines_before, lines_after = open(
        os.path.join(out, "idle-window.ticks")).read().split()
    window_cpu = (int(after) - int(before)) / int(hz)
    w("| measurement | seconds | CPU s | % of one core | refreshes in it | RSS MiB |")
    w("|---|---:|---:|---:|---:|---:|")
    w(f"| `corvanectl run --duration {seconds}`, whole process (GNU time) | {t['wall']:.1f} | "
      f"{t['user'] + t['sys']:.2f} | {100 * (t['user'] + t['sys']) / t['wall']:.2f} | {run_lines} | "
      f"{t['rss'] / 1024:.1f} (peak) |")
    w(f"| quiet window after the start round (/proc/PID/stat) | {seconds} | {window_cpu:.2f} | "
      f"{100 * window_cpu / float(seconds):.3f} | {int(lines_after) - int(lines_before)} | {int(rss) / 1024:.1f} (at end) |")
    w("")
    w("Newsboat has no resident engine to compare with: `newsboat -x reload` refreshes and exits, and its "
      "interactive program reloads only on a timer when `auto-reload` is set.")


if __name__ == "__main__":
    main()
