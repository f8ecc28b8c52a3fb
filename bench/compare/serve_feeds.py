#!/usr/bin/env python3
"""Serves COUNT feeds from 127.0.0.1 for the refresh comparison: the same
documents as bench/refresh_bench (20 items each; RSS 2.0 for two feeds in
three, Atom for the third; dates over the last days), at /feedN.xml, from
memory, one thread per connection and a listen queue deep enough for every
client's parallel fetches (http.server's default queue holds 5).

    serve_feeds.py COUNT PORT_FILE [--heavy] [--port N]

With --heavy the feeds are the heavier corpus instead: 10 to 100 items each,
with long descriptions (about 93 MB for 500 feeds), made from a fixed seed.

Every feed has an ETag and a Last-Modified date, and a conditional GET that
matches (If-None-Match, else If-Modified-Since) is answered 304.

With --port it listens on that port (a client can be set up before the
server answers). Writes the port to PORT_FILE once listening, then serves until killed.
GET /stats answers the requests served since the last /stats as JSON: how
many for feeds, how many of those were answered 304, how many for anything
else, and the other paths asked for. GET /pause makes every feed answer 503
until GET /resume (a client adding subscriptions, which fetches new ones at
once, must not read them before the measured refresh); those answers are
not counted.
"""
import collections
import datetime
import email.utils
import hashlib
import http.server
import json
import random
import sys
import threading
import time

WORDS = ("news market city river council school garden market station energy water road music film "
         "science health court player season report policy budget weather storm museum bridge").split()


def documents(count):
    now = datetime.datetime.now(datetime.timezone.utc)
    docs = {}
    for n in range(count):
        items = []
        for i in range(20):
            when = now - datetime.timedelta(hours=i * 7 + n % 5)
            title = f"Story {i} of feed {n} &amp; friends"
            link = f"http://example.org/{n}/{i}"
            if n % 3 == 2:
                items.append(f"<entry><title>{title}</title><id>urn:{n}:{i}</id><link rel='alternate' href='{link}'/>"
                             f"<updated>{when.strftime('%Y-%m-%dT%H:%M:%SZ')}</updated><summary>Text {i}</summary></entry>")
            else:
                items.append(f"<item><title>{title}</title><link>{link}</link><guid>g{n}-{i}</guid>"
                             f"<pubDate>{when.strftime('%a, %d %b %Y %H:%M:%S GMT')}</pubDate>"
                             f"<description>Text {i} with &lt;b&gt;markup&lt;/b&gt;</description></item>")
        if n % 3 == 2:
            doc = ("<?xml version='1.0' encoding='utf-8'?><feed xmlns='http://www.w3.org/2005/Atom'>"
                   f"<title>Feed {n}</title>" + "".join(items) + "</feed>")
        else:
            doc = ("<?xml version='1.0' encoding='utf-8'?><rss version='2.0'><channel>"
                   f"<title>Feed {n}</title><link>http://127.0.0.1/</link>" + "".join(items) + "</channel></rss>")
        docs[f"/feed{n}.xml"] = doc.encode("utf-8")
    return docs


def heavy_documents(count, seed=20261209):
    """10-100 items a feed, descriptions of about 3 KB of markup-escaped text."""
    rng = random.Random(seed)
    now = datetime.datetime.now(datetime.timezone.utc)
    docs = {}
    for n in range(count):
        items = []
        for i in range(rng.randint(10, 100)):
            when = now - datetime.timedelta(minutes=i * 37 + n % 11)
            words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(285, 670)))
            paragraphs = "".join(f"&lt;p&gt;{words[k:k + 400]}&lt;/p&gt;" for k in range(0, len(words), 400))
            items.append(f"<item><title>Heavy story {i} of feed {n}</title><link>http://example.org/h{n}/{i}</link>"
                         f"<guid>h{n}-{i}</guid><pubDate>{when.strftime('%a, %d %b %Y %H:%M:%S GMT')}</pubDate>"
                         f"<description>{paragraphs}</description></item>")
        doc = ("<?xml version='1.0' encoding='utf-8'?><rss version='2.0'><channel>"
               f"<title>Heavy feed {n}</title><link>http://127.0.0.1/</link>" + "".join(items) + "</channel></rss>")
        docs[f"/feed{n}.xml"] = doc.encode("utf-8")
    return docs


def main():
    count, port_file = int(sys.argv[1]), sys.argv[2]
    docs = heavy_documents(count) if "--heavy" in sys.argv[3:] else documents(count)
    started = time.time()
    last_modified = email.utils.formatdate(started, usegmt=True)
    tags = {path: '"' + hashlib.md5(body).hexdigest()[:16] + '"' for path, body in docs.items()}
    lock = threading.Lock()
    paused = threading.Event()
    counts = {"feeds": 0, "not_modified": 0, "other": 0, "other_paths": collections.Counter()}

    def unchanged(headers, path):
        match = headers.get("If-None-Match")
        if match is not None:
            return tags[path] in [tag.strip() for tag in match.split(",")] or match.strip() == "*"
        since = headers.get("If-Modified-Since")
        if since is None:
            return False
        try:
            return email.utils.parsedate_to_datetime(since).timestamp() >= int(started)
        except (TypeError, ValueError):
            return False

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = self.path.split("?")[0]
            if path == "/stats":
                with lock:
                    body = json.dumps(counts, sort_keys=True).encode()
                    counts.update(feeds=0, not_modified=0, other=0, other_paths=collections.Counter())
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            if path in ("/pause", "/resume"):
                (paused.set if path == "/pause" else paused.clear)()
                self.send_response(204)
                self.end_headers()
                return
            if paused.is_set():
                self.send_error(503)
                return
            body = docs.get(path)
            with lock:
                if body is None:
                    counts["other"] += 1
                    counts["other_paths"][path] += 1
                else:
                    counts["feeds"] += 1
            if body is None:
                self.send_error(404)
                return
            if unchanged(self.headers, path):
                with lock:
                    counts["not_modified"] += 1
                self.send_response(304)
                self.send_header("ETag", tags[path])
                self.end_headers()
                return
            self.send_response(200)
            self.send_header("ETag", tags[path])
            self.send_header("Last-Modified", last_modified)
            self.send_header("Content-Type", "application/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        request_queue_size = 256
        daemon_threads = True

    args = sys.argv[3:]
    port = int(args[args.index("--port") + 1]) if "--port" in args else 0
    server = Server(("127.0.0.1", port), Handler)
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
