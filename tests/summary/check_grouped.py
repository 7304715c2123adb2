"""Checks a report whose cohorts are grouped against the summary of the same run.

    check_grouped.py SUMMARY REPORT COHORTS

The summary must hold all COHORTS cohort rows; each table of the report by cohort (inbreeding, generations, composition) at most 100
rows, ranges of equal width from the least cohort to the largest, each row what the summary's
rows in its range give: the individuals summed, the means and shares weighted by them. Exit
status 1 on the first disagreements, with what differs.
"""
import html
import json
import re
import sys

problems = []


def expect(ok, what):
    if not ok:
        problems.append(what)


def table(page, kind):
    """The head and the rows of the table data-table=KIND, as texts."""
    body = re.search(rf'<table data-table="{kind}">(.*?)</table>', page, re.S).group(1)
    head = [html.unescape(c) for c in re.findall(r'<th[^>]*>(.*?)</th>', body)]
    rows = [[html.unescape(c) for c in re.findall(r'<td[^>]*>(.*?)</td>', r)]
            for r in re.findall(r'<tr>(.*?)</tr>', body.split('</thead>')[1])]
    return head, rows


def weighted(rows, key, j=None):
    """Sum of a row mean times the row's individuals, over the individuals."""
    value = (lambda r: r[key][j]) if j is not None else (lambda r: r[key])
    return sum(value(r) * r["individuals"] for r in rows) / sum(r["individuals"] for r in rows)


def check_table(kind, page, s):
    head, got = table(page, kind)
    rows = s["cohorts"]["rows"]
    expect(0 < len(got) <= 100, f"{kind}: {len(got)} rows")
    ranges = [(int(r[0].split("-")[0]), int(r[0].split("-")[-1])) for r in got]
    width = ranges[0][1] - ranges[0][0] + 1
    expect(ranges[0][0] == rows[0]["cohort"] and ranges[-1][1] == rows[-1]["cohort"],
           f"{kind}: ranges from {ranges[0]} to {ranges[-1]}")
    expect(all(b - a + 1 == width for a, b in ranges[:-1]) and ranges[-1][1] - ranges[-1][0] < width
           and all(ranges[i][1] + 1 == ranges[i + 1][0] for i in range(len(ranges) - 1)),
           f"{kind}: ranges not of equal width {width} one after the other")
    total = 0
    groups = {}
    for r in rows:
        groups.setdefault((r["cohort"] - rows[0]["cohort"]) // width, []).append(r)
    for i, cells in enumerate(got):
        group = groups.get(i, [])
        n = sum(r["individuals"] for r in group)
        total += int(cells[1].replace(",", ""))
        want = [n]
        if kind == "inbreeding":
            want += [100 * weighted(group, "inbreeding_mean"),
                     100 * max(r["inbreeding_max"] for r in group),
                     100 * weighted(group, "inbred_share")]
        elif kind == "generations":
            want += [weighted(group, "known_generations_mean"),
                     100 * weighted(group, "both_parents_known_share")]
        else:
            want += [100 * weighted(group, "contributions", j) for j in range(len(head) - 2)]
        for cell, value in zip(cells[1:], want):
            decimals = len(cell.split(".")[1]) if "." in cell else 0
            expect(abs(float(cell.replace(",", "")) - value) <= 0.5 * 10 ** -decimals + 1e-9,
                   f"{kind}: row {cells[0]}: {cell} where the summary gives {value}")
    expect(total == s["traced"]["individuals"] - s["cohorts"]["without_cohort"],
           f"{kind}: the groups hold {total} individuals")


def main():
    summary, report, cohorts = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(summary) as f:
        s = json.load(f)
    with open(report) as f:
        page = f.read()
    rows = s["cohorts"]["rows"]
    expect(len(rows) == cohorts, f"the summary has {len(rows)} cohort rows")
    expect(f"{cohorts:,} birth years are shown in 100 groups of {cohorts // 100:,} birth years"
           in page, "no caption says how the cohorts are grouped")
    for kind in ("inbreeding", "generations", "composition"):
        check_table(kind, page, s)
    for p in problems[:20]:
        print("grouped report:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
