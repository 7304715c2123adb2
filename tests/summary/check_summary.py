"""Checks a run summary against the schema and against what the run printed and wrote.

    check_summary.py SUMMARY LISTING STDERR STATUS      (run in the run's work folder)

The counts must be those of the listing, the messages those of standard error, the files those
on disk, and the statistics of the inbreeding coefficients and known generations those the
test recomputes from .PED (and the contributions from .BCONTRIB). Original IDs are integers, or
texts in a run with --table (the summary's `table`). Exit status 1 on the first disagreements,
with what differs.
"""
import json
import math
import os
import re
import sys
from collections import defaultdict

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
problems = []
TEXT_IDS = False  # a run with --table: IDs are texts


def ident(v):
    """An ID as written in a file: its text with --table, else its integer (0276 is 276)."""
    return v if TEXT_IDS else int(v)


def expect(ok, what):
    if not ok:
        problems.append(what)


def close(a, b, tol=2e-6):
    if a is None or b is None:
        return a is None and b is None
    return math.isclose(a, b, rel_tol=tol, abs_tol=tol)


STATISTICS = {
    "No. of individuals ...": "individuals",
    "No. of individuals inserted": "inserted",
    "No. of phantom parent groups ...": "phgs",
    "No. of individuals that should be traced ...": "to_trace",
    "No. of phantom parent groups with repeated information": "phgs_with_repeated_information",
    "No. of individuals with repeated pedigree information": "repeated_pedigree_information",
    "No. of individuals with inconsistent pedigree information": "inconsistent_pedigree_information",
    "No. of individuals that should be traced not in pedigree file": "to_trace_not_in_pedigree",
    "No. of individuals that can not be traced back to PHG's": "not_traceable_to_phgs",
    "No. of these that should be traced": "not_traceable_to_trace",
    "No. of phantom parrent groups with unspecified breed prop": "phgs_without_breed_proportions",
    "No. of inconsisten sort variable for parent-offspring": "doubtful_sort_values",
}


def check_listing(s, listing, status):
    lines = listing.splitlines()
    expect(s["exit_status"] == status, f"exit status {s['exit_status']}, the run's {status}")
    expect(lines and lines[0].endswith(s["run_date"]), "run date not that of the heading")
    # Statistics for the pedigree file: every row printed, under its key.
    printed = {}
    for line in lines:
        for label, key in STATISTICS.items():
            if line.startswith(" " + label):
                printed[key] = int(line.split()[-1])
    stats = s["statistics"]
    expect((stats is None) == ("Statistics for the pedigree file" not in listing),
           "statistics present in only one of summary and listing")
    for key, value in printed.items():
        expect(stats is not None and stats[key] == value,
               f"statistics.{key}: listing {value}, summary {stats and stats[key]}")
    # Error reports: "There are N errors of this type" ... "They are in the file NAME".
    kinds = {k["kind"]: k for k in s["error_kinds"]}
    count = None
    for line in lines:
        m = re.match(r" There are (\d+) errors of this type", line)
        if m:
            count = int(m.group(1))
        m = re.match(r" They are in the file (.*\.err(\d))$", line)
        if m and count is not None:
            k = kinds.get(int(m.group(2)))
            expect(k is not None and k["count"] == count and k["file"] == m.group(1),
                   f"error kind {m.group(2)}: listing {count} in {m.group(1)}, summary {k}")
            count = None
    # Output files: "It contains N records" then "File name: NAME".
    written = {f["name"]: f for f in s["files_written"]}
    for i, line in enumerate(lines[:-1]):
        m = re.match(r" It contains (\d+) records", line)
        n = re.match(r" File name: (.*)$", lines[i + 1])
        if m and n:
            f = written.get(n.group(1))
            expect(f is not None and f["records"] == int(m.group(1)),
                   f"{n.group(1)}: listing {m.group(1)} records, summary {f}")
    # PHG tables: one row for each PHG of the traced pedigree.
    if "PHANTOM PARENT GROUPS" in listing and s["traced"] is not None:
        table = listing.split("PHANTOM PARENT GROUPS", 1)[1].split(" SUM ", 1)[0]
        rows = [l for l in table.splitlines() if re.match(r"^ +-?\d+ +\d+ +\d+ ", l)]
        expect(len(rows) == s["traced"]["phgs"],
               f"PHG table has {len(rows)} rows, summary {s['traced']['phgs']}")


def check_messages(s, stderr):
    lines = stderr.splitlines()
    warnings = [l for l in lines if ": warning: " in l]
    expect([m["message"] for m in s["warnings"]["messages"]] == warnings,
           "warnings differ from standard error")
    errors = [l for l in lines if ": error: " in l]
    if s["stop"] is None:
        expect(not errors, "errors on standard error, but no stop")
    else:
        expect(errors and s["stop"]["message"] == errors[-1],
               f"stop {s['stop']['message']!r}, standard error's last error {errors[-1:]}")
    for k in s["warnings"]["kinds"]:
        if k["count"] > 5:
            expect(any(l.endswith(f"{k['count']} {k['kind']} in all; the first 5 are shown above")
                       for l in warnings), f"count of {k['kind']} not on standard error")


def check_files(s):
    over_lines = any(k["kind"] == "records running over a line end" for k in s["warnings"]["kinds"])
    for f in s["inputs"]:
        expect(f["bytes"] is None or f["bytes"] == os.path.getsize(f["name"]),
               f"size of {f['name']}")
        if f["records"] is None:
            continue
        with open(f["name"], encoding="latin-1") as text:
            lines = sum(1 for line in text if line.split())
        # One record per line, unless one ran over a line end (a warning says so); the first
        # line of a table may be a header (the pedigree's is one when the summary says so).
        headers = {0} if not TEXT_IDS else (
            {s["table"]["header"]} if f["role"] == "pedigree" else {0, 1})
        expect(f["records"] in {lines - h for h in headers}
               or (over_lines and f["records"] < lines),
               f"{f['name']}: {f['records']} records, {lines} lines")
    for name in [f["name"] for f in s["files_written"]] + [k["file"] for k in s["error_kinds"]]:
        expect(name is None or os.path.isfile(name), f"{name} listed but not on disk")


def moments(values):
    n = len(values)
    mean = sum(values) / n if n else None
    sd = math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1)) if n > 1 else None
    return {"mean": mean, "sd": sd, "min": min(values), "max": max(values)} if n else None


def check_group(name, got, rows, inbreeding):
    expect(got["individuals"] == len(rows), f"{name}: {got['individuals']} individuals")
    F = [r["F"] for r in rows]
    for value, what in (("K_GEN", "known_generations"), ("F", "inbreeding")):
        want = moments([r[value] for r in rows]) if value == "K_GEN" or inbreeding else None
        for key in ("mean", "sd", "min", "max"):
            expect(close((got[what] or {}).get(key), (want or {}).get(key)), f"{name}: {what} {key}")
    if not inbreeding:
        expect(got["inbreeding"] is None and got["distribution"] is None, f"{name}: inbreeding")
        return
    expect(got["inbred"] == sum(f > 0 for f in F), f"{name}: inbred")
    for c in got["distribution"]:
        lo, hi = c["above"], c["up_to"]
        n = sum((f == 0) if lo is None else (lo < f <= hi) for f in F)
        expect(c["individuals"] == n, f"{name}: class ({lo}, {hi}] {c['individuals']}, .PED {n}")


def read_ped(s):
    """The records of .PED: ID (original), parents, sort value, known generations, F."""
    ped = next((f["name"] for f in s["files_written"] if f["role"] == "PED"), None)
    if ped is None:
        return None
    renumbered = s["directives"]["OPT2"] == 2
    inbreeding = s["inbreeding"]["computed"]
    width = 5 + inbreeding + renumbered  # values of a record, which may run over lines
    with open(ped, encoding="latin-1") as f:
        values = f.read().split()
    rows = []
    for k in range(0, len(values), width):
        v = values[k:k + width]
        r = {"key": ident(v[0]), "sire": ident(v[1]), "dam": ident(v[2]), "sort": int(v[3]),
             "K_GEN": float(v[4]), "F": float(v[5]) if inbreeding else 0.0}
        r["ID"] = ident(v[-1]) if renumbered else r["key"]
        rows.append(r)
    return rows


def check_ped(s):
    rows = read_ped(s)
    if rows is None or s["coefficients"] is None:
        return
    with open(s["inputs"][1]["name"], encoding="latin-1") as f:
        # With --table every value of the trace file (its ID column among them) counts.
        traced_ids = {v.strip('"') for v in re.split(r"[\s,;]+", f.read())} if TEXT_IDS else {
            int(line.split()[0]) for line in f if line.strip()}
    inbreeding = s["inbreeding"]["computed"]
    check_group("traced", s["coefficients"]["traced"], rows, inbreeding)
    check_group("marked", s["coefficients"]["marked"], [r for r in rows if r["ID"] in traced_ids],
                inbreeding)
    expect(s["traced"]["individuals"] == len(rows), "traced individuals")
    # Cohorts, recomputed: the birth year, or the longest line back to the PHGs.
    by_key = {r["key"]: r for r in rows}
    generation = {}

    def gen(k):  # PHGs are generation 0; a traced pedigree is as deep as MAX_NIV at most
        if k not in generation:
            r = by_key[k]
            generation[k] = 1 + max([gen(p) for p in (r["sire"], r["dam"]) if p in by_key],
                                    default=0)
        return generation[k]

    by_generation = s["cohorts"]["by"] == "generation"
    cohort = {r["key"]: gen(r["key"]) if by_generation else r["sort"] // 10000
              for r in rows if by_generation or r["sort"] > 0}
    groups = defaultdict(list)
    for r in rows:
        if r["key"] in cohort:
            groups[cohort[r["key"]]].append(r)
    got = s["cohorts"]["rows"]
    expect([c["cohort"] for c in got] == sorted(groups), "cohort keys")
    expect(s["cohorts"]["without_cohort"] == len(rows) - len(cohort), "without_cohort")
    contributions = read_contributions(s)
    for c in got:
        g = groups.get(c["cohort"], [])
        n = len(g)
        if n == 0:
            continue
        expect(c["individuals"] == n, f"cohort {c['cohort']}: individuals")
        both = sum(r["sire"] in by_key and r["dam"] in by_key for r in g)
        expect(close(c["both_parents_known_share"], both / n), f"cohort {c['cohort']}: parents")
        expect(close(c["known_generations_mean"], sum(r["K_GEN"] for r in g) / n),
               f"cohort {c['cohort']}: known generations")
        if inbreeding:
            expect(close(c["inbreeding_mean"], sum(r["F"] for r in g) / n)
                   and close(c["inbreeding_max"], max(r["F"] for r in g))
                   and close(c["inbred_share"], sum(r["F"] > 0 for r in g) / n),
                   f"cohort {c['cohort']}: inbreeding")
        if contributions is not None:
            for b, value in enumerate(c["contributions"]):
                want = sum(contributions[r["key"]].get(b + 1, 0.0) for r in g) / n
                # .BCONTRIB leaves out contributions of 1E-13 and below.
                expect(abs(value - want) < 1e-6, f"cohort {c['cohort']}: contribution {b + 1}")


def read_contributions(s):
    """Contributions by individual and base population from .BCONTRIB."""
    name = next((f["name"] for f in s["files_written"] if f["role"] == "BCONTRIB"), None)
    if name is None:
        return None
    out = defaultdict(dict)
    with open(name, encoding="latin-1") as f:
        for line in f:
            key, b, value = line.split()[:3]  # and the original ID with OPT2=2
            out[ident(key)][int(b)] = float(value)
    return out


def main():
    summary, listing, stderr, status = sys.argv[1:5]
    with open(os.path.join(HERE, "..", "..", "doc", "summary.schema.json")) as f:
        schema = json.load(f)
    with open(summary) as f:
        s = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(s), key=str)
    for e in errors:
        problems.append(f"schema: {'/'.join(map(str, e.path))}: {e.message}")
    if not errors:
        global TEXT_IDS
        TEXT_IDS = s.get("table") is not None
        with open(listing, encoding="latin-1") as f:
            check_listing(s, f.read(), int(status))
        with open(stderr, encoding="latin-1") as f:
            check_messages(s, f.read())
        check_files(s)
        check_ped(s)
    for p in problems[:20]:
        print("summary:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
