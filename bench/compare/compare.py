#!/usr/bin/env python3
"""Compares two parse dumps (Corvane's parse_dump, feedparser's fp_dump.py)
file by file and item by item, and judges each disagreement against the
generator's truth.json where there is one.

    compare.py CORVANE.json FEEDPARSER.json TRUTH.json [--examples N] [--markdown FILE]

Items are paired by position. Titles are compared after one normalisation
applied to both sides alike (and to the truth): markup tags and comments
removed, HTML entities decoded (the whole HTML5 table, html.unescape), no-break
spaces made spaces, runs of white space collapsed to one space, both ends
trimmed; a missing title equals an empty one. Links are compared with white
space at both ends trimmed; a missing link equals an empty one.
"""
import argparse
import collections
import html
import json
import re
import sys

TAG = re.compile(r"</?[A-Za-z][^<>]*>")
COMMENT = re.compile(r"<!--.*?-->", re.S)


def norm_title(text):
    if not text:
        return ""
    text = COMMENT.sub("", text)
    text = TAG.sub("", text)
    text = html.unescape(text).replace("\xa0", " ")
    return " ".join(text.split())


def norm_link(link):
    return (link or "").strip()


def verdict(ours, theirs, truth, also=None):
    if truth is None:
        return "no truth"
    accepted = {truth} | ({also} if also else set())
    if ours in accepted and theirs in accepted:
        return "both acceptable"
    if ours in accepted:
        return "Corvane right"
    if theirs in accepted:
        return "feedparser right"
    return "neither"


LINK_NOTES = ("absolute_link", "query_link", "relative_link", "root_link", "space_link")


def feature_of(field, item, feed):
    """The one feature that explains a disagreement best, from the generator's notes."""
    notes = item["notes"]
    if field == "title":
        kinds = [n for n in notes if n not in LINK_NOTES and not n.endswith("_base") and n not in (
            "guid_permalink_only", "no_link", "no_guid", "link_without_rel", "self_link_first",
            "enclosure_link_first", "feedburner_origlink")]
        feature = "+".join(kinds) or "-"
    else:
        overriding = [n for n in ("guid_permalink_only", "no_link", "feedburner_origlink") if n in notes]
        if overriding:
            feature = overriding[0]
        else:
            feature = "+".join(n for n in notes if n in LINK_NOTES) or "-"
            if any(n.endswith("_xml_base") for n in notes):
                feature += " under xml:base"
    if field == "title" and feed["encoding"] == "utf16":
        feature += " (UTF-16 file)"
    return feature


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("corvane")
    ap.add_argument("feedparser")
    ap.add_argument("truth")
    ap.add_argument("--examples", type=int, default=2)
    ap.add_argument("--markdown")
    args = ap.parse_args()
    ours = {f["file"]: f for f in json.load(open(args.corvane, encoding="utf-8"))}
    theirs = {f["file"]: f for f in json.load(open(args.feedparser, encoding="utf-8"))}
    truth = json.load(open(args.truth, encoding="utf-8"))

    files = sorted(set(ours) | set(theirs))
    agree_count = 0
    items_compared = 0
    title_agree = link_agree = 0
    raw_title_agree = 0
    # (field, feature) -> Counter of verdicts; and examples
    kinds = collections.defaultdict(collections.Counter)
    examples = collections.defaultdict(list)
    count_rows = []
    truth_score = {"Corvane": collections.Counter(), "feedparser": collections.Counter()}
    for name in files:
        a, b = ours.get(name), theirs.get(name)
        t = truth.get(name)
        if a is None or b is None:
            count_rows.append((name, a and a["count"], b and b["count"], t and t["count"], "missing dump"))
            continue
        if a["count"] == b["count"]:
            agree_count += 1
        else:
            tc = t["count"] if t else None
            count_rows.append((name, a["count"], b["count"], tc,
                               verdict(a["count"], b["count"], tc) if tc is not None else "no truth"))
        if t and t["count"] is not None:
            truth_score["Corvane"]["count ok" if a["count"] == t["count"] else "count wrong"] += 1
            truth_score["feedparser"]["count ok" if b["count"] == t["count"] else "count wrong"] += 1
        for i in range(min(a["count"], b["count"])):
            ia, ib = a["items"][i], b["items"][i]
            ti = t["items"][i] if t and i < len(t["items"]) else None
            items_compared += 1
            if (ia["title"] or "") == (ib["title"] or ""):
                raw_title_agree += 1
            for field, norm in (("title", norm_title), ("link", norm_link)):
                va, vb = norm(ia[field]), norm(ib[field])
                vt = norm(ti[field]) if ti is not None else None
                also = norm(ti.get("link_also")) if ti is not None and field == "link" else None
                if ti is not None:
                    for side, value in (("Corvane", va), ("feedparser", vb)):
                        truth_score[side][field + (" ok" if value in (vt, also or vt) else " wrong")] += 1
                if va == vb:
                    if field == "title":
                        title_agree += 1
                    else:
                        link_agree += 1
                    continue
                key = (field, feature_of(field, ti, t) if ti is not None else "fixture (no truth)")
                kinds[key][verdict(va, vb, vt, also)] += 1
                if len(examples[key]) < args.examples:
                    examples[key].append({
                        "file": name, "item": i, "Corvane": ia[field], "feedparser": ib[field],
                        "truth": ti[field] if ti else None,
                        "xml": (ti["title_xml"] if field == "title" else ti["link_xml"]) if ti else None})

    out = []
    w = out.append
    w(f"files: {len(files)}; item count agrees on {agree_count}, differs on {len(files) - agree_count}")
    w(f"items paired: {items_compared}; titles agree after normalisation: {title_agree} "
      f"({100.0 * title_agree / max(items_compared, 1):.1f} %), as raw strings: {raw_title_agree}; "
      f"links agree: {link_agree} ({100.0 * link_agree / max(items_compared, 1):.1f} %)")
    for side, score in truth_score.items():
        w(f"against the generator's truth, {side}: " + ", ".join(f"{k} {v}" for k, v in sorted(score.items())))
    w("")
    w("| field | feature of the item | disagreements | Corvane right | feedparser right | both acceptable | neither | no truth |")
    w("|---|---|---:|---:|---:|---:|---:|---:|")
    for (field, feature), c in sorted(kinds.items(), key=lambda kv: (kv[0][0], -sum(kv[1].values()))):
        w(f"| {field} | {feature} | {sum(c.values())} | {c['Corvane right']} | {c['feedparser right']} | "
          f"{c['both acceptable']} | {c['neither']} | {c['no truth']} |")
    w("")
    w("| file | Corvane count | feedparser count | generator's count | verdict |")
    w("|---|---:|---:|---:|---|")
    for row in count_rows:
        w("| " + " | ".join("—" if x is None else str(x) for x in row) + " |")
    w("")
    w("Examples:")
    for (field, feature), exs in sorted(examples.items()):
        for e in exs:
            w(f"- {field} / {feature}: {e['file']} item {e['item']}: markup {json.dumps(e['xml'], ensure_ascii=False)}; "
              f"Corvane {json.dumps(e['Corvane'], ensure_ascii=False)}; feedparser {json.dumps(e['feedparser'], ensure_ascii=False)}; "
              f"meant {json.dumps(e['truth'], ensure_ascii=False)}")
    text = "\n".join(out) + "\n"
    sys.stdout.write(text)
    if args.markdown:
        open(args.markdown, "w", encoding="utf-8").write(text)


if __name__ == "__main__":
    main()
