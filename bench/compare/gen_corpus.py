#!/usr/bin/env python3
"""Writes a fixed corpus of feed documents, and what a reader should get out of
each, for bench/compare/run.sh.

    gen_corpus.py OUT_DIR [--count N] [--seed S] [--base URL]

The same seed always gives the same bytes (random.Random with an integer seed
is stable across Python 3 versions). Formats: RSS 2.0, RSS 0.91 (some with the
Netscape DOCTYPE and its HTML entities), RSS 0.92, RSS 0.90 and RSS 1.0 (RDF),
Atom 1.0 and Atom 0.3. Item texts mix predefined and numeric entities, CDATA,
escaped and CDATA HTML in titles, white space around titles and links,
internal DTD entities, Atom text constructs of type html and xhtml. Links are
absolute, relative, root-relative, under xml:base (channel, feed or entry),
with &amp; in the query, missing with and without a permalink guid;
Atom entries have several links, some a feedburner:origLink. Encodings: UTF-8
(some with a byte-order mark), ISO-8859-1, windows-1252, UTF-16. Some files
are broken: bare ampersands, HTML entities without a DTD, raw HTML inside a
description, a truncated document, text after the root, undeclared Latin-1
bytes, and an HTML page instead of a feed.

OUT_DIR/truth.json maps each file name to what the generator meant: "count"
(null where a broken document leaves it open), and per item "title" (plain
text: entities decoded, markup removed, white space collapsed), "link" (the
absolute URL, resolved against xml:base and the file's URL, base + name;
null when the item has none), "title_xml" and "link_xml" (the markup as
written) and "notes" (the features used).
"""
import argparse
import html
import json
import os
import random
import urllib.parse

WORDS = ["market", "update", "city", "council", "report", "new", "release", "software",
         "weather", "storm", "science", "energy", "café", "crème", "Müller", "naïve",
         "über", "season", "team", "wins", "opens", "school", "budget", "plan"]

NETSCAPE_DOCTYPE = ('<!DOCTYPE rss PUBLIC "-//Netscape Communications//DTD RSS 0.91//EN" '
                    '"http://my.netscape.com/publish/formats/rss-0.91.dtd">\n')


def esc(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def esc_attr(text):
    return esc(text).replace('"', "&quot;")


def plain(text):
    return " ".join(text.split())


class Feed:
    def __init__(self, rnd, index, fmt, encoding, base_url):
        self.rnd = rnd
        self.index = index
        self.fmt = fmt
        self.encoding = encoding
        self.name = f"feed{index:03d}-{fmt}-{encoding}.xml"
        self.url = base_url + self.name
        self.broken = None
        self.count_known = True
        self.items = []
        self.dtd_entities = False
        self.netscape = False
        self.latin_only = encoding in ("latin1", "cp1252", "nodecl")

    def words(self, low, high):
        out = []
        for _ in range(self.rnd.randint(low, high)):
            word = self.rnd.choice(WORDS)
            if not self.latin_only and self.rnd.random() < 0.03:
                word = "Łódź"
            out.append(word)
        return " ".join(out)

    # A title as (markup, plain text, notes). Atom titles may carry a type.
    def title(self, atom):
        rnd = self.rnd
        text = self.words(2, 8)
        kind = rnd.choices(
            ["plain", "amp", "numeric", "lt", "escaped_html", "cdata", "cdata_html", "space",
             "double_escaped", "dtd_entity", "netscape_entity", "bare_amp", "html_entity", "xhtml"],
            weights=[30, 8, 8, 4, 8, 6, 6, 6, 3, 3, 3, 3, 3, 4])[0]
        if kind == "dtd_entity" and not self.dtd_entities:
            kind = "plain"
        if kind == "netscape_entity" and not self.netscape:
            kind = "plain"
        if kind in ("bare_amp", "html_entity") and self.broken != "markup":
            kind = "amp"
        if kind == "xhtml" and not atom:
            kind = "escaped_html"
        attrs = ""
        if kind == "plain":
            if self.encoding == "cp1252" and rnd.random() < 0.4:
                # A raw windows-1252 quote (byte 0x92).
                return esc(text) + " don\u2019t", text + " don\u2019t", ["cp1252_quote"], attrs
            return esc(text), text, [kind], attrs
        if kind == "amp":
            return esc(text) + " &amp; co", text + " & co", [kind], attrs
        if kind == "numeric":
            return esc(text) + " it&#8217;s &#x263A;", text + " it\u2019s \u263a", [kind], attrs
        if kind == "lt":
            return esc(text) + " &lt;3", text + " <3", [kind], attrs
        if kind == "escaped_html":
            if atom:
                attrs = ' type="html"'
            return ("&lt;b&gt;" + esc(text) + "&lt;/b&gt; news", text + " news", [kind], attrs)
        if kind == "cdata":
            return "<![CDATA[Q&A: " + text + "]]>", "Q&A: " + text, [kind], attrs
        if kind == "cdata_html":
            if atom:
                attrs = ' type="html"'
            return ("<![CDATA[<em>" + text + "</em> &amp; more]]>", text + " & more", [kind], attrs)
        if kind == "space":
            return "\n      " + esc(text) + "\n    ", plain(text), [kind], attrs
        if kind == "double_escaped":
            if atom:
                attrs = ' type="html"'
            return "AT&amp;amp;T " + esc(text), "AT&T " + text, [kind], attrs
        if kind == "dtd_entity":
            return esc(text) + "&sep;&site;", text + " | Example News", [kind], attrs
        if kind == "netscape_entity":
            return "&eacute;t&eacute; " + esc(text) + " &copy;", "été " + text + " ©", [kind], attrs
        if kind == "bare_amp":
            return "Tom & Jerry " + esc(text), "Tom & Jerry " + text, [kind], attrs
        if kind == "html_entity":
            return "caf&eacute;&nbsp;" + esc(text), "café " + text, [kind], attrs
        if kind == "xhtml":
            return ('<div xmlns="http://www.w3.org/1999/xhtml">' + esc(text) + " <b>bold</b></div>",
                    text + " bold", [kind], ' type="xhtml"')
        raise AssertionError(kind)

    # A link as (path or URL as written, notes); the caller resolves it.
    def link_target(self, item):
        rnd = self.rnd
        kind = rnd.choices(["absolute", "query", "relative", "root", "space"],
                           weights=[50, 15, 12, 13, 10])[0]
        if kind == "absolute":
            return f"http://example.org/{self.index}/story-{item}.html", [kind + "_link"]
        if kind == "query":
            return f"http://example.org/{self.index}/read?id={item}&ref=rss", [kind + "_link"]
        if kind == "relative":
            return f"stories/{item}.html", [kind + "_link"]
        if kind == "root":
            return f"/{self.index}/item-{item}", [kind + "_link"]
        return f"  \n  http://example.org/{self.index}/s{item}.html\n  ", [kind + "_link"]


def description(feed, broken_markup):
    text = feed.words(5, 40)
    if broken_markup and feed.rnd.random() < 0.3:
        # Raw, unescaped HTML with a void element: not well-formed XML.
        return "<p>" + esc(text) + "<br>more</p>"
    if feed.rnd.random() < 0.5:
        return "<![CDATA[<p>" + text + ' <a href="http://example.org/?a=1&b=2">x</a></p>]]>'
    return esc("<p>" + text + "</p>")


def encode(feed, xml):
    enc = feed.encoding
    if enc == "utf8":
        return xml.encode("utf-8")
    if enc == "bom":
        return b"\xef\xbb\xbf" + xml.encode("utf-8")
    if enc == "latin1":
        return xml.encode("iso-8859-1", "xmlcharrefreplace")
    if enc == "cp1252":
        return xml.encode("cp1252", "xmlcharrefreplace")
    if enc == "utf16":
        return xml.encode("utf-16")  # with a byte-order mark
    if enc == "nodecl":
        return xml.encode("iso-8859-1", "xmlcharrefreplace")
    raise AssertionError(enc)


def declaration(feed):
    return {
        "utf8": '<?xml version="1.0" encoding="UTF-8"?>\n',
        "bom": '<?xml version="1.0" encoding="utf-8"?>\n',
        "latin1": '<?xml version="1.0" encoding="ISO-8859-1"?>\n',
        "cp1252": '<?xml version="1.0" encoding="windows-1252"?>\n',
        "utf16": '<?xml version="1.0" encoding="UTF-16"?>\n',
        "nodecl": "",
    }[feed.encoding]


def resolve(base, target):
    return urllib.parse.urljoin(base, target.strip())


def make_items(feed, count, atom, item_base):
    """Items as dicts: title markup and attrs, link target, truth."""
    rnd = feed.rnd
    items = []
    for i in range(count):
        title_xml, title_plain, notes, title_attrs = feed.title(atom)
        item = {"title_xml": title_xml, "title_attrs": title_attrs, "notes": list(notes)}
        if not atom and rnd.random() < 0.04:
            # No title at all: RSS allows an item with a description only.
            item["title_xml"] = None
            item["notes"] = ["no_title"]
            title_plain = None
        target, link_notes = feed.link_target(i)
        item["notes"] += link_notes
        item["link_target"] = target
        item["guid"] = None
        base = item_base
        if atom and rnd.random() < 0.1:
            item["entry_base"] = f"http://entries.example.net/{feed.index}/"
            base = resolve(base, item["entry_base"])
            item["notes"].append("entry_xml_base")
        link = resolve(base, target)
        if not atom:
            roll = rnd.random()
            if roll < 0.06:
                # No link, a permalink guid (isPermaLink defaults to true).
                item["link_target"] = None
                item["guid"] = (f"http://example.org/{feed.index}/perma-{i}", None)
                item["notes"] = [n for n in item["notes"] if not n.endswith("_link")] + ["guid_permalink_only"]
                link = item["guid"][0]
            elif roll < 0.1:
                item["link_target"] = None
                item["notes"] = [n for n in item["notes"] if not n.endswith("_link")] + ["no_link"]
                link = None
            elif roll < 0.5:
                item["guid"] = (f"{feed.index}-{i}", "false")
            elif roll < 0.6:
                item["guid"] = (link, "true")
            else:
                item["notes"].append("no_guid")
        item["truth"] = {"title": None if title_plain is None else plain(title_plain), "link": link}
        items.append(item)
    return items


def rss_feed(feed, version, count):
    rnd = feed.rnd
    feed.netscape = version == "0.91" and rnd.random() < 0.5
    feed.dtd_entities = version == "2.0" and rnd.random() < 0.2
    channel_base = None
    if version == "2.0" and rnd.random() < 0.15:
        channel_base = f"http://base.example.com/{feed.index}/news/"
    base = resolve(feed.url, channel_base) if channel_base else feed.url
    items = make_items(feed, count, False, base)
    if channel_base:
        for item in items:
            item["notes"].append("channel_xml_base")
    out = [declaration(feed)]
    if feed.netscape:
        out.append(NETSCAPE_DOCTYPE)
    if feed.dtd_entities:
        out.append('<!DOCTYPE rss [<!ENTITY site "Example News"><!ENTITY sep " | ">]>\n')
    ns = ' xmlns:dc="http://purl.org/dc/elements/1.1/"' if version == "2.0" else ""
    out.append(f'<rss version="{version}"{ns}>\n')
    out.append(f'<channel{" xml:base=%s" % json.dumps(channel_base) if channel_base else ""}>\n')
    out.append(f"<title>{esc(feed.words(1, 4))}</title>\n<link>http://example.org/{feed.index}/</link>\n")
    out.append(f"<description>{esc(feed.words(3, 9))}</description>\n")
    if version == "0.91":
        out.append("<language>en-us</language>\n")
    for i, item in enumerate(items):
        out.append("<item>\n")
        if item["title_xml"] is not None:
            out.append(f"  <title>{item['title_xml']}</title>\n")
        if item["link_target"] is not None:
            out.append(f"  <link>{esc(item['link_target'])}</link>\n")
        out.append(f"  <description>{description(feed, feed.broken == 'markup')}</description>\n")
        if item["guid"] is not None and version != "0.91":
            value, permalink = item["guid"]
            attr = f' isPermaLink="{permalink}"' if permalink else ""
            out.append(f"  <guid{attr}>{esc(value)}</guid>\n")
        elif item["guid"] is not None and item["link_target"] is None:
            # RSS 0.91 has no guid: such an item has no link at all.
            item["truth"]["link"] = None
            item["notes"] = [n for n in item["notes"] if n != "guid_permalink_only"] + ["no_link"]
        if version == "2.0":
            out.append(f"  <pubDate>Mon, {1 + i % 28:02d} Dec 2026 10:00:00 GMT</pubDate>\n")
        out.append("</item>\n")
    out.append("</channel>\n</rss>\n")
    return "".join(out), items


def rdf_feed(feed, version, count):
    items = make_items(feed, count, False, feed.url)
    for item in items:
        # RDF items have no guid element; rdf:about is the identity.
        if item["guid"] is not None and item["link_target"] is None:
            item["truth"]["link"] = None
            item["notes"] = [n for n in item["notes"] if n != "guid_permalink_only"] + ["no_link"]
        item["guid"] = None
    default_ns = "http://my.netscape.com/rdf/simple/0.9/" if version == "0.90" else "http://purl.org/rss/1.0/"
    out = [declaration(feed),
           f'<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="{default_ns}"'
           ' xmlns:dc="http://purl.org/dc/elements/1.1/">\n']
    if version == "0.90":
        out.append(f"<channel>\n<title>{esc(feed.words(1, 4))}</title>\n<link>http://example.org/</link>\n"
                   f"<description>{esc(feed.words(3, 8))}</description>\n</channel>\n")
    else:
        out.append(f'<channel rdf:about="http://example.org/{feed.index}/">\n<title>{esc(feed.words(1, 4))}</title>\n'
                   f"<link>http://example.org/</link>\n<description>{esc(feed.words(3, 8))}</description>\n"
                   "<items><rdf:Seq>\n")
        for i, item in enumerate(items):
            about = item["truth"]["link"] or f"http://example.org/{feed.index}/about-{i}"
            out.append(f'  <rdf:li rdf:resource="{esc_attr(about)}"/>\n')
        out.append("</rdf:Seq></items>\n</channel>\n")
    for i, item in enumerate(items):
        about = item["truth"]["link"] or f"http://example.org/{feed.index}/about-{i}"
        out.append(f'<item rdf:about="{esc_attr(about)}">\n' if version != "0.90" else "<item>\n")
        if item["title_xml"] is not None:
            out.append(f"  <title>{item['title_xml']}</title>\n")
        if item["link_target"] is not None:
            out.append(f"  <link>{esc(item['link_target'])}</link>\n")
        if version != "0.90":
            out.append(f"  <description>{description(feed, feed.broken == 'markup')}</description>\n")
            out.append(f"  <dc:date>2026-12-{1 + i % 28:02d}T10:00:00Z</dc:date>\n")
        out.append("</item>\n")
    out.append("</rdf:RDF>\n")
    return "".join(out), items


def atom_feed(feed, version, count):
    rnd = feed.rnd
    feed_base = None
    if rnd.random() < 0.25:
        feed_base = f"http://atom.example.com/{feed.index}/blog/"
    base = resolve(feed.url, feed_base) if feed_base else feed.url
    items = make_items(feed, count, True, base)
    if feed_base:
        for item in items:
            item["notes"].append("feed_xml_base")
    ns = "http://www.w3.org/2005/Atom" if version == "1.0" else "http://purl.org/atom/ns#"
    extra = ' version="0.3"' if version == "0.3" else ""
    out = [declaration(feed),
           f'<feed xmlns="{ns}"{extra} xmlns:feedburner="http://rssnamespace.org/feedburner/ext/1.0"'
           f'{" xml:base=%s" % json.dumps(feed_base) if feed_base else ""}>\n',
           f"<title>{esc(feed.words(1, 4))}</title>\n",
           f'<link rel="alternate" type="text/html" href="http://example.org/{feed.index}/"/>\n',
           f"<id>urn:feed:{feed.index}</id>\n"]
    for i, item in enumerate(items):
        entry_base = item.get("entry_base")
        out.append(f'<entry{" xml:base=%s" % json.dumps(entry_base) if entry_base else ""}>\n')
        out.append(f"  <id>urn:entry:{feed.index}:{i}</id>\n")
        attrs = item["title_attrs"]
        if version == "0.3" and attrs:
            attrs = attrs.replace('type="html"', 'type="text/html" mode="escaped"').replace(
                'type="xhtml"', 'type="application/xhtml+xml" mode="xml"')
        out.append(f"  <title{attrs}>{item['title_xml']}</title>\n")
        target = esc_attr(item["link_target"].strip())
        shape = rnd.choices(["alternate", "no_rel", "self_first", "enclosure_first", "origlink"],
                            weights=[55, 15, 12, 10, 8])[0]
        if shape == "alternate":
            out.append(f'  <link rel="alternate" type="text/html" href="{target}"/>\n')
        elif shape == "no_rel":
            out.append(f'  <link href="{target}"/>\n')
            item["notes"].append("link_without_rel")
        elif shape == "self_first":
            out.append(f'  <link rel="self" type="application/atom+xml" href="http://example.org/{feed.index}/e{i}.atom"/>\n')
            out.append(f'  <link rel="alternate" type="text/html" href="{target}"/>\n')
            item["notes"].append("self_link_first")
        elif shape == "enclosure_first":
            out.append(f'  <link rel="enclosure" type="audio/mpeg" length="1" href="http://example.org/{i}.mp3"/>\n')
            out.append(f'  <link rel="alternate" type="text/html" href="{target}"/>\n')
            item["notes"].append("enclosure_link_first")
        else:
            out.append(f'  <link rel="alternate" type="text/html" href="{target}"/>\n')
            out.append(f"  <feedburner:origLink>http://origin.example.org/{feed.index}/{i}</feedburner:origLink>\n")
            item["notes"].append("feedburner_origlink")
            # The publisher's original address is as good an answer.
            item["truth"]["also"] = f"http://origin.example.org/{feed.index}/{i}"
        if version == "1.0":
            out.append(f"  <updated>2026-12-{1 + i % 28:02d}T10:00:00Z</updated>\n")
        else:
            out.append(f"  <created>2026-12-{1 + i % 28:02d}T10:00:00Z</created>\n"
                       f"  <modified>2026-12-{1 + i % 28:02d}T10:00:00Z</modified>\n")
        out.append(f'  <summary>{esc(feed.words(5, 30))}</summary>\n</entry>\n')
    out.append("</feed>\n")
    return "".join(out), items


FORMATS = [("rss20", rss_feed, "2.0"), ("rss091", rss_feed, "0.91"), ("rss092", rss_feed, "0.92"),
           ("rdf10", rdf_feed, "1.0"), ("rdf090", rdf_feed, "0.90"),
           ("atom10", atom_feed, "1.0"), ("atom03", atom_feed, "0.3")]
FORMAT_WEIGHTS = [30, 8, 6, 16, 5, 28, 7]
ENCODINGS = ["utf8", "bom", "latin1", "cp1252", "utf16"]
ENCODING_WEIGHTS = [70, 8, 12, 6, 4]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=240)
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--base", default="http://feeds.example.org/corpus/")
    args = parser.parse_args()
    rnd = random.Random(args.seed)
    os.makedirs(args.out, exist_ok=True)
    truth = {}
    for index in range(args.count):
        fmt_name, make, version = rnd.choices(FORMATS, weights=FORMAT_WEIGHTS)[0]
        encoding = rnd.choices(ENCODINGS, weights=ENCODING_WEIGHTS)[0]
        broken = None
        roll = rnd.random()
        if roll < 0.05:
            broken = "markup"      # bare ampersands, HTML entities, raw <br>
        elif roll < 0.07:
            broken = "truncated"
        elif roll < 0.085:
            broken = "trailing"    # text after the root element
        elif roll < 0.10:
            broken = "undeclared_latin1"
            encoding = "nodecl"
        feed = Feed(rnd, index, fmt_name, encoding, args.base)
        feed.broken = broken
        count = rnd.randint(2, 40) if rnd.random() < 0.8 else rnd.randint(41, 120)
        xml, items = make(feed, version, count)
        count_truth = len(items)
        if broken == "truncated":
            # Cut in the middle of an item past the first third.
            cut = xml.find("<title", len(xml) // 3)
            cut = cut + 12 if cut > 0 else len(xml) // 2
            xml = xml[:cut]
            count_truth = None
        elif broken == "trailing":
            xml += "<!-- cached 2026-12-07 -->\n<p>served by cache</p>\n"
        data = encode(feed, xml)
        with open(os.path.join(args.out, feed.name), "wb") as f:
            f.write(data)
        truth[feed.name] = {
            "format": fmt_name, "encoding": encoding, "broken": broken, "count": count_truth,
            "items": [{"title": it["truth"]["title"], "link": it["truth"]["link"],
                       "link_also": it["truth"].get("also"),
                       "title_xml": it["title_xml"], "link_xml": it["link_target"],
                       "notes": it["notes"]} for it in items],
        }
    # One HTML page served where a feed was expected.
    name = "page-html.xml"
    with open(os.path.join(args.out, name), "wb") as f:
        f.write(b"<!DOCTYPE html>\n<html><head><title>Sign in</title>"
                b'<link rel="alternate" type="application/rss+xml" href="/feed.xml"></head>'
                b"<body><h1>Sign in</h1><p>Please log in &amp; continue.</p></body></html>\n")
    truth[name] = {"format": "html", "encoding": "utf8", "broken": "html_page", "count": 0, "items": []}
    with open(os.path.join(args.out, "truth.json"), "w", encoding="utf-8") as f:
        json.dump(truth, f, ensure_ascii=False, indent=1, sort_keys=True)


if __name__ == "__main__":
    main()
