"""Properties of the evaluation pedigree on generated pedigrees: properties.py KINSTROM

Seeded pedigrees of 1 to 12 overlapping cohorts (lines shuffled, unknown parents as 0 and as
PHG codes, inserted parents, a repeated record, text IDs with --table) are run without and with
--evaluation-pedigree, --groups and --generations N. Each evaluation pedigree is checked against
the .PED of its run and against references computed here from the input; nothing else changes.
"""
import functools
import itertools
import json
import os
import random
import struct
import subprocess
import sys
import tempfile

BIN = os.path.abspath(sys.argv[1])
ENV = dict(os.environ, SOURCE_DATE_EPOCH="1796450637", TZ="UTC", KINSTROM_PROGRESS="0")
DUMMY = -9223372036854775807  # both parents of an inserted parent
# cohorts, size, --table, INBREED='YES', a doubtful sort variable (kind 8: no inbreeding),
# --generations values (None: the whole traced pedigree)
CASES = [(1, 300, False, True, False, [None, 0, 1]),
         (4, 800, False, True, False, [None, 0, 1, 2, 40]),
         (12, 3000, False, True, False, [None, 1, 2, 5]),
         (12, 1500, True, True, False, [None, 0, 2, 40]),
         (6, 1000, False, True, True, [None, 2]),
         (8, 600, False, False, False, [None, 1, 40]),
         (3, 2000, True, False, False, [None, 1]),
         (10, 4000, False, True, False, [None, 0, 3])]
failures, seen = [], set()  # seen: situations met, so that the generated data stay telling


def expect(ok, what):
    return ok or failures.append(what)


def generate(rng, cohorts, size, table, doubtful):
    """Records (id, sire, dam, sort) in file order, inserted parents in the order met, the IDs
    listed and the trace file's lines."""
    name = (lambda v: "A%05d" % v) if table else (lambda v: v)
    pool = rng.sample(range(1, 99999 if table else 10**12), size + 7)
    ids, spare = [name(v) for v in pool[:size]], [name(v) for v in pool[size:]]
    phgs = rng.sample([0, -1, -2, -3, -7, -40], 3)
    cohort = [i * cohorts // size for i in range(size)]
    sort = [rng.choice([0, -1, -9]) if rng.random() < 0.05 else c + 1 for c in cohort]
    records = []
    for i, c in enumerate(cohort):  # sires of even, dams of odd index, up to 4 cohorts older
        parents = []
        for sex in (0, 1):
            older = [j for j in range(i) if j % 2 == sex and c - 4 <= cohort[j] < c]
            r = rng.random()
            parents.append(spare[sex * 3 + rng.randrange(3)] if r < 0.02 and c else
                           ids[rng.choice(older[-200:])] if older and r < 0.85 else
                           rng.choice(phgs))
        records.append((ids[i], *parents, sort[i]))
    if doubtful:  # an offspring no later than its sire
        at = {x[0]: k for k, x in enumerate(records)}
        k = next(k for k, x in enumerate(records) if x[1] in at and records[at[x[1]]][3] > 0)
        records[k] = records[k][:3] + (records[at[records[k][1]]][3],)
    rng.shuffle(records)
    for k in rng.sample(range(size), 2):  # a repeated record: its first place counts
        records.insert(rng.randrange(k + 1, len(records) + 1), records[k])
    inserted = list(dict.fromkeys(p for x in records for p in x[1:3] if p in spare))
    listed = rng.sample(ids, max(1, size // rng.choice([3, 10, 40]))) + inserted[:1]
    # Listed too: an inserted parent; traced: one ID twice and one not in the pedigree.
    return records, inserted, set(listed), listed + listed[:1] + [spare[-1]]


def run(folder, args, table):
    with open(os.path.join(folder, "directives"), "rb") as stdin:
        done = subprocess.run([BIN] + ["--table"] * table + args, cwd=folder, stdin=stdin,
                              capture_output=True, env=ENV)
    outputs = {f: open(os.path.join(folder, f), "rb").read() for f in os.listdir(folder)
               if f.startswith("trace.txt.")}
    return done, outputs, json.load(open(os.path.join(folder, "s.json")))


def rest(summary):
    """The summary but for the evaluation pedigree and the wall times."""
    files = [f for f in summary["files_written"] if f["role"] != "evaluation_pedigree"]
    return dict(summary, phases=None, evaluation_pedigree=None, files_written=files)


def phg(value):
    return str(value).lstrip("-").isdigit() and int(value) <= 0


def same32(ped, ours):
    """The .PED value is our 32-bit value rounded to the .PED's digits (fixed or E form)."""
    ours = struct.unpack("f", struct.pack("f", float(ours)))[0]
    digits = len(ped.partition("E")[0].split(".")[1])
    return float(("%.*E" if "E" in ped else "%.*f") % (digits, ours)) == float(ped)


def read_ped(path, arity):
    """ID -> (sire, dam, sort) and ID -> (known generations[, inbreeding]) of a .PED."""
    values = open(path).read().split()
    expect(len(values) % arity == 0, f"{path}: not records of {arity} values")
    ped, kgen_f = {}, {}
    for k in range(0, len(values), arity):
        i, sire, dam = [int(v) if v.lstrip("-").isdigit() else v for v in values[k:k + 3]]
        ped[i], kgen_f[i] = (sire, dam, int(values[k + 3])), values[k + 4:k + arity]
    return ped, kgen_f


def reference(case, records, inserted, ped):
    """Parents, place in the file and generation number of every individual, from the input;
    the .PED must hold the input's parents and sort variables (those of 0 or below, unknown,
    as one value of 0 or below)."""
    parents = {x[0]: x[1:3] for x in reversed(records)}
    parents.update({p: (DUMMY, DUMMY) for p in inserted})
    place = {i: k for k, i in enumerate(dict.fromkeys([x[0] for x in records] + inserted))}
    sort = {x[0]: x[3] for x in reversed(records)}
    unknown = {ped[i][2] for i in ped if sort.get(i, 1) <= 0}
    expect(len(unknown) <= 1 and all(v <= 0 for v in unknown), f"{case}: unknown sort {unknown}")
    for i in ped:
        expect((ped[i][2] == sort.get(i, ped[i][2]) or sort[i] <= 0) and
               ped[i][:2] == parents[i], f"{case}: .PED {i} {ped[i]}: input {parents[i]}")

    @functools.cache
    def generation(i):  # the longest line back to the PHGs, 0 when both parents are PHGs
        return max([generation(p) + 1 for p in parents[i] if p in parents] + [0])
    return parents, place, generation


def check(case, ref, listed, ped, kgen_f, text, summary, groups, gens, with_f):
    parents, place, generation = ref
    rows = [l.split(" ") for l in text.splitlines()]  # values separated by one blank
    n, info = len(rows), summary["evaluation_pedigree"]
    columns = ["code", "sire_code", "dam_code", "sort", "known_generations"] + \
        ["inbreeding"] * with_f + ["listed", "id"]
    expect(info["columns"] == columns and info["generations"] == gens and info["written"] and
           info["genetic_groups"] == groups and info["individuals"] == n and
           {"role": "evaluation_pedigree", "name": "eval.txt", "records": n} in
           summary["files_written"], f"{case}: summary {info}")
    expect(all(len(r) == len(columns) for r in rows) and text.endswith("\n") == bool(n),
           f"{case}: values per line")
    codes = [int(r[0]) for r in rows]
    expect(codes == list(range(1, n + 1)), f"{case}: codes are not 1..n in order")
    ids = [r[-1] if r[-1] in parents else int(r[-1]) for r in rows]
    code = dict(zip(ids, codes))
    group = {g["phg"]: g["code"] for g in info["group_codes"]}
    expect(list(group.values()) == list(range(n + 1, n + info["groups"] + 1)) and
           list(group) == sorted(group) and groups == bool(group) or not groups and not group,
           f"{case}: group codes {info['group_codes']}")
    # The individuals written: the listed ones and their ancestors up to N generations back.
    front, kept, depth = list(listed), set(listed), 0
    while front and (gens is None or depth < gens):
        front = [p for i in front for p in parents[i] if p not in kept and not phg(p)]
        kept.update(front)
        depth += 1
    expect(set(ids) == kept, f"{case}: {len(set(ids) ^ kept)} IDs differ from those kept")
    expect(gens is not None or set(ped) == kept, f"{case}: .PED is not the traced pedigree")
    # Code order: generation number, sort variable, place in the file (inserted ones last).
    order = sorted(kept, key=lambda i: (generation(i), ped[i][2], place[i]))
    expect(ids == order, f"{case}: code order differs from (generation, sort, place) "
           f"first at {next((k for k, (a, b) in enumerate(zip(ids, order)) if a != b), n)}")
    seen.update(s for s, met in [
        ("a tie of generation and sort", len({(generation(i), ped[i][2]) for i in kept}) < n),
        ("an inserted parent written", any(parents[i][0] == DUMMY for i in kept)),
        ("a parent not kept", any(not phg(p) and p not in kept for i in kept for p in ped[i][:2]))]
        if met)
    for r, i in zip(rows, ids):
        want = [group.get(p, 0) if phg(p) else code.get(p, 0) for p in ped[i][:2]]
        expect([int(r[1]), int(r[2])] == want, f"{case}: parents of {i}: {r[1:3]}, not {want}")
        expect(r[3] == str(ped[i][2]), f"{case}: sort of {i}: {r[3]}, not {ped[i][2]}")
        expect(all(map(same32, kgen_f[i], r[4:5 + with_f])),
               f"{case}: known generations/inbreeding of {i}: {r[4:-2]}, .PED {kgen_f[i]}")
        expect(r[-2] == str(int(i in listed)), f"{case}: listed of {i}")
    phgs = {p for i in kept for p in ped[i][:2] if phg(p)}  # each with a group, used
    expect(not groups or set(group) == phgs, f"{case}: groups {group}, PHG parents {phgs}")
    # The rules a reader of such a file rests on: every known parent on an earlier line,
    # unknown parents 0 (or a group code), nobody its own parent, codes unique.
    expect(len(code) == n, f"{case}: an ID written twice")
    for c, r in zip(codes, rows):
        for p in map(int, r[1:3]):
            expect(p == 0 or p < c or groups and n < p <= n + len(group),
                   f"{case}: line {c} has parent {p}, neither 0 nor earlier nor a group")
            expect(p != c, f"{case}: line {c} is its own parent")


def main():
    rng = random.Random(20261205)
    for cohorts, size, table, inbreed, doubtful, generations in CASES:
        records, inserted, listed, trace = generate(rng, cohorts, size, table, doubtful)
        case = f"{cohorts} cohorts, {size} individuals{', --table' if table else ''}"
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "ped.txt"), "w") as f:
                f.write("ID,Sire,Dam,Born\n" if table else "")
                f.writelines(",".join("NA" if v == 0 else str(v) for v in x) + "\n" if table
                             else "%d %d %d %d\n" % x for x in records)
            with open(os.path.join(folder, "trace.txt"), "w") as f:
                f.writelines(f"{i}\n" for i in trace)
            with open(os.path.join(folder, "directives"), "w") as f:
                f.write("&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='trace.txt', OPT2=1, "
                        f"INBREED='{'YES' if inbreed else 'NO'}' /\n")
            base, outputs, alone = run(folder, ["--summary", "s.json"], table)
            if not expect(base.returncode == 0, f"{case}: {base.stderr.decode()}"):
                continue
            with_f = inbreed and not doubtful
            expect(alone["inbreeding"]["computed"] == with_f, f"{case}: inbreeding computed?")
            ped, kgen_f = read_ped(os.path.join(folder, "trace.txt.PED"), 5 + with_f)
            ref = reference(case, records, inserted, ped)
            for groups, gens in itertools.product((False, True), generations):
                args = ["--evaluation-pedigree", "eval.txt", "--summary", "s.json"] + \
                    ["--groups"] * groups + ["--generations", str(gens)] * (gens is not None)
                done, again, summary = run(folder, args, table)
                label = f"{case}, {' '.join(args[4:]) or 'whole'}"
                if not expect(done.returncode == 0, f"{label}: {done.stderr.decode()}"):
                    continue
                expect(again == outputs and done.stdout == base.stdout and
                       rest(summary) == rest(alone), f"{label}: the listing or a file changed")
                with open(os.path.join(folder, "eval.txt")) as f:
                    check(label, ref, listed, ped, kgen_f, f.read(), summary, groups, gens,
                          with_f)
    expect(len(seen) == 3, f"situations never met: only {seen}")
    for what in failures[:20]:
        print("FAIL:", what)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


sys.exit(main())
