#!/usr/bin/python3
"""The same dump as parse_dump, made with the Python feedparser library.

    /usr/bin/python3 fp_dump.py [--repeat N] [--base URL] --out FILE FILE...

Each file is parsed from bytes in memory as if fetched from base + name with
Content-Type application/xml (no charset, so the document's own declaration
decides, as for Corvane reading the file) and Content-Location set to that
URL (feedparser's base for relative links). Writes the dump to --out, then
reads the whole corpus --repeat more times and prints one JSON line with the
best and median round. feedparser's defaults stay on (HTML sanitising,
relative URI resolution), as a program using it would have them.
"""
import argparse
import json
import os
import sys
import time

import feedparser


def parse(data, url):
    return feedparser.parse(data, response_headers={
        "content-type": "application/xml", "content-location": url})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--base", default="http://feeds.example.org/corpus/")
    ap.add_argument("--out", required=True)
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    inputs = []
    for path in args.files:
        with open(path, "rb") as f:
            inputs.append((os.path.basename(path), f.read()))

    dump = []
    for name, data in inputs:
        d = parse(data, args.base + name)
        items = [{"title": e.get("title"), "link": e.get("link"), "guid": e.get("id")} for e in d.entries]
        dump.append({"file": name, "ok": not d.bozo,
                     "error": str(d.get("bozo_exception", "")) if d.bozo else "",
                     "count": len(items), "items": items})
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(dump, f, ensure_ascii=False, indent=1)

    rounds = []
    items = 0
    for _ in range(args.repeat):
        start = time.perf_counter()
        items = 0
        for name, data in inputs:
            items += len(parse(data, args.base + name).entries)
        rounds.append(time.perf_counter() - start)
    rounds.sort()
    if rounds:
        best, median = rounds[0], rounds[len(rounds) // 2]
        print(json.dumps({"reader": "feedparser " + feedparser.__version__, "files": len(inputs),
                          "bytes": sum(len(d) for _, d in inputs), "items": items, "rounds": args.repeat,
                          "best_seconds": best, "median_seconds": median,
                          "files_per_second": len(inputs) / best,
                          "files_per_second_median": len(inputs) / median}))


if __name__ == "__main__":
    sys.exit(main())
