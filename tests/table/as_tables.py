#!/usr/bin/env python3
"""Every end-to-end case whose input reads alike in both formats, rewritten as tables.

    as_tables.py KINSTROM GOLDEN_DIR

The pedigree, trace and breed-proportion files of each case in GOLDEN_DIR/cases.txt are
written again as a spreadsheet would: a header line, text IDs that keep the integers' order
(a prefix and zero padding), values quoted or not, separated by commas, semicolons (with
decimal commas) or tabs, the columns shuffled and named, unknown parents (0) as NA. The run
with --table must end as the classic run does and print the same listing and write the same
files once every text ID is read back as its integer, compared value by value (the widths of
the ID fields differ, and the listing calls the IDs texts). Cases that cannot be written as
such tables are skipped: records over line ends, input that does not read, setups that link or
lock files.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

NUMBER = re.compile(r"^-?\d+$")
TEXT_ID = re.compile(r"^ID_(\d{12})$")
LAYOUTS = [  # separator, quoted, shuffled columns
    (",", True, False),
    (";", False, True),
    ("\t", False, False),
    (",", False, True),
]


def text_id(v):
    return "ID_%012d" % v


def lines_of(path):
    with open(path, "rb") as f:
        return [l.decode("latin-1").split() for l in f.read().splitlines() if l.strip()]


def values(line):
    return [v for v in re.split(r"[\s,]+", " ".join(line)) if v]


def write(path, rows, sep, quoted, decimal_comma=False):
    def cell(v):
        if decimal_comma:
            v = v.replace(".", ",")
        return '"%s"' % v if quoted and v != "NA" else v

    with open(path, "w", encoding="latin-1") as f:
        for row in rows:
            f.write(sep.join(cell(v) for v in row) + "\n")


def convert(work, names, layout, n_bpop):
    """Rewrites the inputs as tables; the arguments of the run, or None when they do not fit."""
    sep, quoted, shuffled = layout
    records = [values(l) for l in lines_of(os.path.join(work, names["PED_FILE"]))]
    if not records or any(len(r) != 4 or not all(NUMBER.match(v) for v in r) for r in records):
        return None
    if any(int(r[0]) <= 0 for r in records):
        return None
    order = [3, 2, 0, 1] if shuffled else [0, 1, 2, 3]
    header = ["Ind", "Sire", "Dam", "Born"]
    rows = [[header[k] for k in order]]
    for r in records:
        row = [text_id(int(r[0]))]
        row += ["NA" if int(p) == 0 else text_id(int(p)) if int(p) > 0 else p for p in r[1:3]]
        row.append(r[3])
        rows.append([row[k] for k in order])
    write(os.path.join(work, names["PED_FILE"]), rows, sep, quoted)
    trace = [values(l) for l in lines_of(os.path.join(work, names["PROB_FILE"]))]
    if any(len(t) != 1 or not NUMBER.match(t[0]) or int(t[0]) <= 0 for t in trace):
        return None
    write(os.path.join(work, names["PROB_FILE"]), [["Ind"]] + [[text_id(int(t[0]))] for t in trace],
          sep, quoted)
    if os.path.exists(os.path.join(work, names.get("BPROP_FILE", "-"))) and n_bpop > 0:
        bprop = [values(l) for l in lines_of(os.path.join(work, names["BPROP_FILE"]))]
        if any(len(b) != n_bpop + 1 for b in bprop):
            return None
        write(os.path.join(work, names["BPROP_FILE"]),
              [["PHG"] + ["B%d" % k for k in range(1, n_bpop + 1)]] + bprop, sep, quoted,
              decimal_comma=sep == ";")
    return ["--table"] + (["--columns", "Ind,Sire,Dam,Born"] if shuffled else [])


def run(binary, case, work, args):
    env = {k: v for k, v in os.environ.items() if k not in ("PBS_O_WORKDIR", "SASROOT")}
    env.update(SOURCE_DATE_EPOCH="1796450637", TZ="UTC", KINSTROM_PROGRESS="0")
    if os.path.exists(os.path.join(case, "env")):
        for line in open(os.path.join(case, "env")).read().splitlines():
            if line:
                key, _, value = line.partition("=")
                env[key] = value.replace("@WORK@", work)
    with open(os.path.join(case, "directives"), "rb") as directives:
        p = subprocess.run([binary] + args, cwd=work, stdin=directives, capture_output=True, env=env)
    outputs = {"listing": p.stdout.decode("latin-1").replace(work, "@WORK@")}
    for name in sorted(os.listdir(work)):
        if name.startswith("input.") or name in inputs_of(case):
            continue
        with open(os.path.join(work, name), "rb") as f:
            outputs[name] = f.read().decode("latin-1")
    return p.returncode, outputs


def inputs_of(case):
    folder = os.path.join(case, "input")
    return set(os.listdir(folder)) if os.path.isdir(folder) else set()


def tokens(text):
    out = []
    for t in text.replace("(text)", "(long integer)").split():
        m = TEXT_ID.match(t)
        out.append(str(int(m.group(1))) if m else t)
    return out


def main():
    binary, golden = os.path.abspath(sys.argv[1]), sys.argv[2]
    cases = [l.strip() for l in open(os.path.join(golden, "cases.txt"))
             if l.strip() and not l.startswith("#")]
    compared, failed = 0, 0
    for number, name in enumerate(cases):
        case = os.path.join(golden, name)
        text = open(os.path.join(case, "directives"), encoding="latin-1").read()
        names = dict(re.findall(r"(PED_FILE|PROB_FILE|BPROP_FILE)\s*=\s*'\s*([^'/]+?)\s*'", text))
        n_bpop = int((re.findall(r"N_BPOP\s*=\s*(\d+)", text) or ["0"])[0])
        if os.path.exists(os.path.join(case, "setup")) or not inputs_of(case) >= {
                names.get("PED_FILE"), names.get("PROB_FILE")}:
            continue
        with tempfile.TemporaryDirectory() as tmp:
            classic, table = os.path.join(tmp, "c"), os.path.join(tmp, "t")
            for work in (classic, table):
                shutil.copytree(os.path.join(case, "input"), work)
            args = convert(table, names, LAYOUTS[number % len(LAYOUTS)], n_bpop)
            if args is None:
                continue
            status, want = run(binary, case, classic, [])
            if "invalid input on file" in want["listing"]:
                continue  # stopped on a value that does not read, found at other points
            table_status, got = run(binary, case, table, args)
        compared += 1
        problems = [] if status == table_status else ["status %d, not %d" % (table_status, status)]
        if sorted(want) != sorted(got):
            problems.append("files %s, not %s" % (sorted(got), sorted(want)))
        for f in sorted(set(want) & set(got)):
            a, b = tokens(want[f]), tokens(got[f])
            if a != b:
                at = next((k for k in range(min(len(a), len(b))) if a[k] != b[k]), min(len(a), len(b)))
                problems.append("%s: value %d is %r, not %r" % (f, at + 1, b[at:at + 3], a[at:at + 3]))
        for p in problems:
            print("FAIL %s (%s): %s" % (name, LAYOUTS[number % len(LAYOUTS)], p))
        failed += bool(problems)
    print("%d cases compared, %d differ" % (compared, failed))
    return 1 if failed or compared < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
