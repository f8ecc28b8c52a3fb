#!/usr/bin/env python3
"""Writes a few RSS feeds with plausible items (our own texts), one site
folder each, dated relative to now, for the screenshot check.
    makefeeds.py FOLDER BASE_URL...   (one base address per site)"""
import datetime
import email.utils
import os
import sys

FEEDS = {
    "city.xml": ("City Desk", [
        "Tram line 4 reopens after three weeks of track work",
        "Council backs plan for car-free Sundays in the old town",
        "Library extends opening hours through the winter",
        "Night market returns to the harbour on Friday",
        "New cycle bridge links the two river banks",
        "Record turnout for the neighbourhood clean-up",
    ]),
    "science.xml": ("Science Weekly", [
        "Astronomers map a cold stream of stars around the galaxy",
        "A cheaper catalyst splits water with sunlight",
        "Deep-sea survey finds coral thriving at 900 metres",
        "Why bees prefer blue flowers in the morning",
        "Ice cores hold a 40,000-year record of dust storms",
    ]),
    "tech.xml": ("Open Source Notes", [
        "Kernel 7.2 lands with a faster scheduler for small machines",
        "A text editor written in 4,000 lines explains its design",
        "Package mirrors move to content-addressed storage",
        "Why the terminal emulator rewrote its font renderer",
        "Release candidate of the desktop toolkit is out",
        "How a tiny database survives power loss",
    ]),
}


def main(folder, bases):
    """One feed per site: FOLDER/<n>/<feed>.xml is served at bases[n]."""
    now = datetime.datetime.now(datetime.timezone.utc)
    step = 0
    for n, (name, (title, items)) in enumerate(FEEDS.items()):
        base = bases[n % len(bases)]
        site = os.path.join(folder, str(n))
        os.makedirs(site, exist_ok=True)
        entries = []
        for i, text in enumerate(items):
            step += 1
            when = email.utils.format_datetime(now - datetime.timedelta(minutes=11 * step + 3 * i))
            slug = text.lower().replace(" ", "-")[:40]
            entries.append(f"""<item><title>{text}</title><link>{base}/{name}/{slug}</link>
<guid>{base}/{name}/{i}</guid><pubDate>{when}</pubDate>
<description>{text}. A short summary of the story for the preview.</description></item>""")
        with open(os.path.join(site, name), "w", encoding="utf-8") as out:
            out.write(f"""<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0"><channel><title>{title}</title><link>{base}/</link>
<description>{title}</description>
{''.join(entries)}
</channel></rss>
""")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
