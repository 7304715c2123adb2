#!/usr/bin/env python3
"""Draw the scaling curve of the all-traced run as an SVG.

    python3 bench/curve.py CURVE_TSV OUT_SVG [--peers FILE]

CURVE_TSV is the file that `VARIANT=curve bench/run.sh` appends to ($BENCH_DIR/curve.tsv); of
several lines for the same binary and size, the last one counts. FILE (default peers.tsv beside
this script) holds the points of other programs: program, animals, whole-run seconds, where
measured, note, separated by tabs, with a header line; lines starting with # are skipped.

The upper panel has log-log axes, animals against seconds: a line with points for the whole run
and one for the inbreeding phase of each binary (the current build, and the BASELINE binary as
"build before"), the other programs as single markers. The lower panel gives the peak memory
per animal in bytes. Python 3 standard library only; the SVG uses no external fonts or scripts.
"""

import argparse
import csv
import math
import os
import sys
from xml.sax.saxutils import escape

WIDTH = 800
LEFT, RIGHT = 80, 30
TOP_TIME, HEIGHT_TIME = 70, 400
TOP_MEM, HEIGHT_MEM = 560, 200
HEIGHT = TOP_MEM + HEIGHT_MEM + 60
X_RANGE = (1e5, 3e7)                # animals; widened to take every point

# Binary of curve.tsv -> label and colour.
BINARIES = {"current": ("current build", "#1f5fa8"), "baseline": ("build before", "#c0392b")}
PEER_MARKERS = ("diamond", "triangle", "square", "cross")
PEER_COLOURS = ("#2e8b57", "#8e44ad", "#d35400", "#555555")


def number(text):
    """The float of a field; None for '-' or an empty one."""
    text = (text or "").strip()
    if text in ("", "-"):
        return None
    return float(text)


def read_curve(path):
    """{binary: {animals: row}}, the last row of each binary and size."""
    out = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if not row.get("animals") or row["animals"].startswith("#"):
                continue
            out.setdefault(row["binary"], {})[int(row["animals"])] = row
    return out


def read_peers(path):
    """[(program, animals, seconds, where, note)]."""
    peers = []
    if not os.path.exists(path):
        return peers
    with open(path, newline="") as f:
        lines = [x for x in f if x.strip() and not x.startswith("#")]
    for row in list(csv.reader(lines, delimiter="\t"))[1:]:
        row += [""] * (5 - len(row))
        peers.append((row[0], int(row[1]), float(row[2]), row[3], row[4]))
    return peers


def size_label(n):
    """100000 -> 100k, 3000000 -> 3m."""
    for div, unit in ((1e6, "m"), (1e3, "k")):
        if n >= div:
            v = n / div
            return ("%g" % v) + unit
    return "%d" % n


def seconds_label(s):
    return ("%g" % s) + " s"


class Panel:
    """A plot area with a log x axis (animals) and a log or linear y axis."""

    def __init__(self, top, height, x_range, y_min, y_max, log_y):
        self.top, self.height = top, height
        self.x_min, self.x_max = x_range
        self.left, self.width = LEFT, WIDTH - LEFT - RIGHT
        self.y_min, self.y_max, self.log_y = y_min, y_max, log_y

    def x(self, n):
        return self.left + self.width * (math.log10(n) - math.log10(self.x_min)) / (
            math.log10(self.x_max) - math.log10(self.x_min))

    def y(self, v):
        if self.log_y:
            f = (math.log10(v) - math.log10(self.y_min)) / (
                math.log10(self.y_max) - math.log10(self.y_min))
        else:
            f = (v - self.y_min) / (self.y_max - self.y_min)
        return self.top + self.height * (1 - f)

    def frame(self, out, y_ticks, y_label, x_title=True):
        l, t, w, h = self.left, self.top, self.width, self.height
        out.append('<rect x="%g" y="%g" width="%g" height="%g" fill="#ffffff" stroke="#333333"/>'
                   % (l, t, w, h))
        # x: a line at each decade's 1 to 9, labels at 1 and 3.
        decade = 10 ** math.floor(math.log10(self.x_min))
        while decade <= self.x_max:
            for m in range(1, 10):
                n = m * decade
                if not self.x_min <= n <= self.x_max:
                    continue
                xx = self.x(n)
                major = m in (1, 3)
                out.append('<line x1="%.1f" y1="%g" x2="%.1f" y2="%g" stroke="%s"/>'
                           % (xx, t, xx, t + h, "#d0d0d0" if major else "#eeeeee"))
                out.append('<line x1="%.1f" y1="%g" x2="%.1f" y2="%g" stroke="#333333"/>'
                           % (xx, t + h, xx, t + h + (6 if major else 3)))
                if major:
                    out.append('<text x="%.1f" y="%g" text-anchor="middle" font-size="13">%s'
                               '</text>' % (xx, t + h + 20, size_label(n)))
            decade *= 10
        for v, label, major in y_ticks:
            yy = self.y(v)
            out.append('<line x1="%g" y1="%.1f" x2="%g" y2="%.1f" stroke="%s"/>'
                       % (l, yy, l + w, yy, "#d0d0d0" if major else "#eeeeee"))
            out.append('<line x1="%g" y1="%.1f" x2="%g" y2="%.1f" stroke="#333333"/>'
                       % (l - (6 if major else 3), yy, l, yy))
            if label:
                out.append('<text x="%g" y="%.1f" text-anchor="end" font-size="13">%s</text>'
                           % (l - 9, yy + 4.5, escape(label)))
        if x_title:
            out.append('<text x="%g" y="%g" text-anchor="middle" font-size="13">'
                       'animals in the pedigree (log scale)</text>' % (l + w / 2, t + h + 40))
        out.append('<text transform="translate(%g %g) rotate(-90)" text-anchor="middle" '
                   'font-size="13">%s</text>' % (18, t + h / 2, escape(y_label)))


def marker(out, kind, x, y, colour, size=6):
    if kind == "circle":
        out.append('<circle cx="%.1f" cy="%.1f" r="%g" fill="%s"/>' % (x, y, size * 0.7, colour))
    elif kind == "open":
        out.append('<circle cx="%.1f" cy="%.1f" r="%g" fill="#ffffff" stroke="%s" '
                   'stroke-width="2"/>' % (x, y, size * 0.65, colour))
    elif kind == "diamond":
        s = size * 1.1
        out.append('<polygon points="%.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f" fill="%s" '
                   'stroke="#000000" stroke-width="0.8"/>'
                   % (x, y - s, x + s, y, x, y + s, x - s, y, colour))
    elif kind == "triangle":
        s = size * 1.1
        out.append('<polygon points="%.1f,%.1f %.1f,%.1f %.1f,%.1f" fill="%s" stroke="#000000" '
                   'stroke-width="0.8"/>' % (x, y - s, x + s, y + s * 0.8, x - s, y + s * 0.8,
                                             colour))
    elif kind == "square":
        out.append('<rect x="%.1f" y="%.1f" width="%g" height="%g" fill="%s" stroke="#000000" '
                   'stroke-width="0.8"/>' % (x - size, y - size, 2 * size, 2 * size, colour))
    else:                                   # cross
        s = size
        out.append('<path d="M%.1f %.1fL%.1f %.1fM%.1f %.1fL%.1f %.1f" stroke="%s" '
                   'stroke-width="2.5"/>' % (x - s, y - s, x + s, y + s, x - s, y + s, x + s,
                                             y - s, colour))


def series(out, panel, points, colour, kind, dashed):
    """A line through the points (animals, value), with a marker at each."""
    points = sorted((n, v) for n, v in points
                    if v is not None and (v > 0 or not panel.log_y))
    if not points:
        return
    path = " ".join("%s%.1f %.1f" % ("M" if i == 0 else "L", panel.x(n), panel.y(v))
                    for i, (n, v) in enumerate(points))
    out.append('<path d="%s" fill="none" stroke="%s" stroke-width="2"%s/>'
               % (path, colour, ' stroke-dasharray="6 4"' if dashed else ""))
    for n, v in points:
        marker(out, kind, panel.x(n), panel.y(v), colour)


def legend_size(entries):
    return max(len(label) for label, *_ in entries) * 6.9 + 52, 20 * len(entries) + 10


def legend(out, x, y, entries):
    """Entries: (label, colour, marker kind, dashed line or None for no line)."""
    width, height = legend_size(entries)
    out.append('<rect x="%g" y="%g" width="%g" height="%g" fill="#ffffff" fill-opacity="0.92" '
               'stroke="#999999"/>' % (x, y, width, height))
    for i, (label, colour, kind, dashed) in enumerate(entries):
        yy = y + 18 + 20 * i
        if dashed is not None:
            out.append('<line x1="%g" y1="%g" x2="%g" y2="%g" stroke="%s" stroke-width="2"%s/>'
                       % (x + 8, yy, x + 36, yy, colour,
                          ' stroke-dasharray="6 4"' if dashed else ""))
        marker(out, kind, x + 22, yy, colour, 5)
        out.append('<text x="%g" y="%g" font-size="12.5">%s</text>' % (x + 44, yy + 4.5,
                                                                       escape(label)))


def log_ticks(lo, hi, label):
    """Ticks of a log axis from lo to hi (decades): labelled 1, 2 and 5 (1 alone when the axis
    spans more than three decades), unlabelled lines at the other multiples."""
    ticks = []
    d = lo
    wide = math.log10(hi / lo) > 3
    while d <= hi * 1.0001:
        for m in range(1, 10):
            v = m * d
            if v > hi * 1.0001:
                break
            shown = m == 1 or (not wide and m in (2, 5))
            ticks.append((v, label(v) if shown else "", m == 1))
        d *= 10
    return ticks


def draw(curve, peers, title):
    walls, inbs, mems = [], [], []
    for binary, rows in curve.items():
        for n, row in rows.items():
            walls.append(number(row["median_wall_s"]))
            inbs.append(number(row["median_inbreeding_s"]))
            mems.append(number(row["bytes_per_animal"]))
    values = [v for v in walls + inbs + [p[2] for p in peers] if v and v > 0]
    if not values:
        values = [1.0]
    y_lo = 10 ** math.floor(math.log10(min(values)))
    y_hi = 10 ** math.ceil(math.log10(max(values)))
    if y_hi <= y_lo:
        y_hi = y_lo * 10
    sizes = [n for rows in curve.values() for n in rows] + [p[1] for p in peers]
    x_range = (min([X_RANGE[0]] + [10 ** math.floor(math.log10(n)) for n in sizes]),
               max([X_RANGE[1]] + sizes))
    time_panel = Panel(TOP_TIME, HEIGHT_TIME, x_range, y_lo, y_hi, True)
    mem_values = [v for v in mems if v is not None]
    mem_hi = max(mem_values + [100]) * 1.08
    step = next(s for s in (25, 50, 100, 200, 250, 500, 1000, 2000, 2500, 5000, 10000, 1e9)
                if mem_hi / s <= 8)
    mem_hi = step * math.ceil(mem_hi / step)
    mem_panel = Panel(TOP_MEM, HEIGHT_MEM, x_range, 0, mem_hi, False)

    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
           'font-family="sans-serif">' % (WIDTH, HEIGHT, WIDTH, HEIGHT),
           '<rect width="100%" height="100%" fill="#ffffff"/>',
           '<text x="%g" y="28" text-anchor="middle" font-size="18" font-weight="bold">%s</text>'
           % (WIDTH / 2, escape(title)),
           '<text x="%g" y="50" text-anchor="middle" font-size="13">every animal traced, '
           'inbreeding and breed contributions; medians of the runs</text>' % (WIDTH / 2)]
    time_panel.frame(out, log_ticks(y_lo, y_hi, seconds_label), "seconds (log scale)")
    entries = []
    for binary, rows in sorted(curve.items(), key=lambda kv: kv[0] != "current"):
        label, colour = BINARIES.get(binary, (binary, "#777777"))
        pts = sorted(rows.items())
        series(out, time_panel, [(n, number(r["median_wall_s"])) for n, r in pts], colour,
               "circle", False)
        series(out, time_panel, [(n, number(r["median_inbreeding_s"])) for n, r in pts],
               colour, "open", True)
        entries.append(("%s: whole run" % label, colour, "circle", False))
        entries.append(("%s: inbreeding phase" % label, colour, "open", True))
    for i, (program, n, secs, where, note) in enumerate(peers):
        kind = PEER_MARKERS[i % len(PEER_MARKERS)]
        colour = PEER_COLOURS[i % len(PEER_COLOURS)]
        marker(out, kind, time_panel.x(n), time_panel.y(secs), colour, 7)
        entries.append(("%s: whole run (another machine, as reported)" % program, colour,
                        kind, None))
    if entries:                         # bottom right: the times grow with the animals
        width, height = legend_size(entries)
        legend(out, WIDTH - RIGHT - width - 10, TOP_TIME + HEIGHT_TIME - height - 24, entries)
    # Depth of the pedigree under each size measured.
    depth = {}
    for rows in curve.values():
        for n, r in rows.items():
            if r.get("depth") not in (None, "", "-"):
                depth[n] = r["depth"]
    for n, d in sorted(depth.items()):
        out.append('<text x="%.1f" y="%g" text-anchor="middle" font-size="11" fill="#555555">'
                   'depth %s</text>' % (time_panel.x(n), TOP_TIME + HEIGHT_TIME - 8, d))

    ticks = []
    v = 0
    while v <= mem_hi + 1e-9:
        ticks.append((v, "%g" % v, True))
        v += step
    mem_panel.frame(out, ticks, "bytes per animal")
    out.append('<text x="%g" y="%g" text-anchor="middle" font-size="14" font-weight="bold">'
               'Peak resident memory per animal</text>' % (WIDTH / 2, TOP_MEM - 14))
    for binary, rows in sorted(curve.items(), key=lambda kv: kv[0] != "current"):
        label, colour = BINARIES.get(binary, (binary, "#777777"))
        series(out, mem_panel, [(n, number(r["bytes_per_animal"]))
                                for n, r in sorted(rows.items())], colour, "circle", False)
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("curve", help="curve.tsv written by VARIANT=curve bench/run.sh")
    ap.add_argument("svg", help="SVG file to write")
    ap.add_argument("--peers", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                    "peers.tsv"),
                    help="points of other programs (default: peers.tsv beside this script)")
    ap.add_argument("--title", default="Kinstrom: time of the all-traced run by pedigree size")
    args = ap.parse_args()
    curve = read_curve(args.curve)
    if not curve:
        sys.exit("no lines in %s" % args.curve)
    peers = read_peers(args.peers)
    with open(args.svg, "w") as f:
        f.write(draw(curve, peers, args.title))


if __name__ == "__main__":
    main()
