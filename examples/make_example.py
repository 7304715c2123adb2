#!/usr/bin/env python3
"""Generate the bundled Kinstrom example: a small dairy-cattle herd pedigree.

Run from anywhere:  python3 make_example.py
It writes, next to this script:
  pedigree.txt  total pedigree: ID, sire ID, dam ID, birth date (yyyymmdd)
  trace.txt     the youngest animals of the herd, one ID per line
  breeds.txt    breed proportions of every phantom parent group (PHG)
  directives    the directive group read by kinstrom from standard input

The output is deterministic (fixed seed, Python 3 standard library only).

The herd
--------
One home herd, recorded from 1995 to 2023, of three breeds (base
populations): 1 = breed A (the main dairy breed), 2 = breed B (a second
dairy breed), 3 = breed C (a beef breed used for crossing).  Unknown
parents are coded by phantom parent groups (PHGs):
  -1, -2        founders of breed A and B born up to 2000 (the foundation
                cows of the herd and the first AI bulls)
  -3            the two breed C bulls
  -11, -12      founders of breed A and B born from 2001 on (AI bulls and
                bought-in heifers); by then each outside population carries
                10 % of the other dairy breed.
Sires are AI bulls (founders with PHG parents) and a few home-bred bulls,
each used for two to five years; a handful of them sire most calves.
Cows have 1 to 5 calves (6 offspring with twins), heifers are kept from
proven cows only, and close matings (parent-offspring, full and half sibs)
are avoided, so inbreeding stays low but not zero.  Older cows are
sometimes crossed to a breed C bull and a few crossbred heifers are kept,
so breed proportions and heterozygosity vary.  Records are sorted by birth
date, so parents come before their offspring.

Deliberate imperfections (kept few on purpose, as in a real file)
----------------------------------------------------------------
1. One repeated record: a cow born in 2009 (ID 341820700993) is listed
   twice, on two consecutive lines (records 157 and 158) with the same
   sire, dam and birth date.  The listing reports record 158 under
   "Repeated pedigree infomation" (one row, no "First apperance" row,
   since the parents agree); it counts as one individual with repeated
   pedigree information and not as inconsistent.
2. One parent that is not an individual of the file: an imported breed C
   bull (ID 840012345678) sired three calves born in 2021 but has no
   record of his own.  The listing reports him once, at his first calf
   (record 338), under "Individuals appears as parents, but is not in
   the file as an individual"; he is inserted with the dummy PHG as both
   parents, and that dummy PHG counts wholly as the last base population
   (breed C), which is what he is.
Everything else is clean: all birth dates are valid and parents are at
least 1.5 years older than their offspring, so there are no birth-date
errors and inbreeding coefficients are computed.
"""

import datetime
import os
import random

SEED = 37
HERE = os.path.dirname(os.path.abspath(__file__))

FIRST_YEAR = 1998          # first calving year
LAST_YEAR = 2023           # last calving year
HERD_TARGET = 23           # cows and heifers kept for breeding
N_TRACE = 40               # youngest animals written to the trace file
MIN_PARENT_AGE = 548       # days; every parent is at least this much older

# PHG code -> proportions of base populations 1..3 (breed A, B, C).
PHG_BREEDS = {
    -1: (1.0, 0.0, 0.0),
    -2: (0.0, 1.0, 0.0),
    -3: (0.0, 0.0, 1.0),
    -11: (0.9, 0.1, 0.0),
    -12: (0.1, 0.9, 0.0),
}

HOME_HERD = 3418207        # herd numbers are 7 digits, IDs herd*100000+serial
MISSING_SIRE = 840012345678
DUPLICATE_YEAR = 2009

rng = random.Random(SEED)


class Animal:
    def __init__(self, ident, sire, dam, born, sex, comp, gen):
        self.id = ident
        self.sire = sire          # Animal, or PHG code (int <= 0), or int ID
        self.dam = dam
        self.born = born          # datetime.date
        self.sex = sex            # 'M' or 'F'
        self.comp = comp          # breed proportions (A, B, C)
        self.gen = gen            # generation: founders 1
        self.calves = 0
        self.parity = 0           # which calf of its dam it is (1 = first)
        self.max_calves = 0
        self.calving_doy = None   # preferred day of year for calving
        self.mates = []           # sires of the cow's calves
        self.kept = False

    def parent_code(self, which):
        p = self.sire if which == 1 else self.dam
        return p.id if isinstance(p, Animal) else p


animals = []
used_ids = set()
serial = {}


def new_id(herd):
    """Next ID of a herd: 7-digit herd number followed by a 5-digit serial."""
    if herd not in serial:
        serial[herd] = rng.randint(100, 900)
    serial[herd] += rng.randint(1, 3)
    ident = herd * 100000 + serial[herd]
    assert ident not in used_ids
    used_ids.add(ident)
    return ident


def other_herd():
    while True:
        h = rng.randint(1000000, 9999999)
        if h != HOME_HERD and h not in serial:
            return h


def random_date(year, first_month, last_month):
    start = datetime.date(year, first_month, 1)
    end = datetime.date(year + (last_month == 12), last_month % 12 + 1, 1)
    return start + datetime.timedelta(days=rng.randrange((end - start).days))


def founder(phg, sex, born, herd=None):
    a = Animal(new_id(herd or other_herd()), phg, phg, born, sex,
               PHG_BREEDS[phg], 1)
    animals.append(a)
    return a


def keep_cow(a):
    a.kept = True
    a.max_calves = rng.choice([1, 2, 3, 3, 4, 4, 5])
    a.first_calving_age = rng.randint(680, 950)   # days


def mix(s, d):
    sc = s.comp if isinstance(s, Animal) else (0.0, 0.0, 1.0)
    return tuple((x + y) / 2 for x, y in zip(sc, d.comp))


def related_close(bull, cow):
    """Parent-offspring or full/half sibs: the herdsman avoids these."""
    if not isinstance(bull, Animal):
        return False
    if cow.sire is bull or bull.dam is cow or bull.dam is cow.dam:
        return True
    return isinstance(cow.sire, Animal) and cow.sire is bull.sire


# ---------------------------------------------------------------- founders
# Foundation cows of the home herd, born 1995-1996: mostly breed A, a few B.
for i in range(17):
    phg = -2 if i % 5 == 4 else -1
    keep_cow(founder(phg, 'F', random_date(1995 + i % 2, 1, 6), HOME_HERD))

# Sire plan: (calving years first..last, bull, share of the herd).
# AI bulls are founders of an outside herd; home-bred bulls are chosen later.
sire_plan = []


def plan_ai_bull(phg, first, last, weight, born_year):
    bull = founder(phg, 'M', random_date(born_year, 1, 12))
    sire_plan.append((first, last, bull, weight))
    return bull


plan_ai_bull(-1, 1998, 2002, 5.0, 1995)
plan_ai_bull(-1, 1999, 2001, 1.5, 1996)
plan_ai_bull(-2, 1998, 2000, 1.0, 1995)
plan_ai_bull(-1, 2002, 2005, 2.0, 1999)
plan_ai_bull(-11, 2006, 2009, 5.0, 2003)
plan_ai_bull(-12, 2010, 2013, 1.0, 2007)
plan_ai_bull(-11, 2013, 2016, 5.0, 2010)
plan_ai_bull(-11, 2017, 2021, 5.0, 2014)
plan_ai_bull(-12, 2022, 2023, 1.0, 2019)
# AI bulls used on a few cows only, two at any time
for first in range(1998, 2023, 2):
    plan_ai_bull(-1 if first < 2003 else (-12 if first % 6 == 0 else -11),
                 first, first + 3, 0.6, first - 3)

# Breed C bulls for crossing older cows: (years, bull).
cross_plan = [
    (2001, 2005, founder(-3, 'M', random_date(1997, 3, 9))),
    (2011, 2015, founder(-3, 'M', random_date(2008, 3, 9))),
]
# Home-bred bulls are picked from the herd's own bull calves in these years
# and used for these calving years.
home_bull_years = [(2002, 2005), (2006, 2009), (2010, 2013),
                   (2013, 2016), (2017, 2020), (2020, 2023)]


def pick_home_bull(first):
    """Home-bred bull of breed A, born 3-4 years before first use, out of
    a proven cow (third calf or later) and by an AI bull."""
    cands = [a for a in animals
             if a.sex == 'M' and first - 4 <= a.born.year <= first - 3
             and isinstance(a.sire, Animal) and a.sire.gen == 1
             and a.comp[0] >= 0.75]
    cands = [a for a in cands if a.parity >= 3] or cands
    return rng.choice(cands) if cands else None


def sires_for(year, cow, calf_day):
    out = []
    for first, last, bull, w in sire_plan:
        if first <= year <= last and not related_close(bull, cow) and \
                (calf_day - bull.born).days >= MIN_PARENT_AGE + 180:
            out.append((bull, w))
    return out


# --------------------------------------------------------------- the herd
bought_in = {2007: [(-11, 2005), (-11, 2005), (-12, 2004)],
             2008: [(-11, 2006), (-12, 2006)]}

for year in range(FIRST_YEAR, LAST_YEAR + 1):
    for first, last in home_bull_years:
        if first == year:
            b = pick_home_bull(first)
            if b is not None:
                sire_plan.append((first, last, b, 2.5))
    for phg, born_year in bought_in.get(year - 1, []):
        # heifers bought the year before their first calving
        keep_cow(founder(phg, 'F', random_date(born_year, 2, 6)))

    cows = [a for a in animals
            if a.kept and a.calves < a.max_calves
            and year - a.born.year >= 2 and year - a.born.year <= 10]
    cows.sort(key=lambda a: (a.born, a.id))
    born_now = []
    for cow in cows:
        if rng.random() > 0.88:
            continue                      # no calf this year
        if cow.calving_doy is None:
            cow.calving_doy = rng.randint(30, 150)
        day = datetime.date(year, 1, 1) + datetime.timedelta(
            days=max(0, min(360, cow.calving_doy + rng.randint(-20, 25)) - 1))
        if (day - cow.born).days < cow.first_calving_age:
            continue                      # heifer too young to calve
        cross = [b for f, l, b in cross_plan if f <= year <= l]
        sire = None
        if year == 2021 and cow.comp[2] == 0.0 and \
                sum(1 for c in born_now if c.sire == MISSING_SIRE) < 3:
            sire = MISSING_SIRE           # imported bull without own record
        elif cross and cow.calves >= 2 and rng.random() < 0.3 and \
                not related_close(cross[0], cow):
            sire = cross[0]
        if sire is None:
            options = sires_for(year, cow, day)
            if not options:
                continue
            # mostly a bull not used on this cow before
            others = [o for o in options if o[0] not in cow.mates]
            if others and rng.random() < 0.97:
                options = others
            r = rng.random() * sum(w for _, w in options)
            for bull, w in options:
                r -= w
                if r <= 0:
                    sire = bull
                    break
            else:
                sire = options[-1][0]
        n_calves = 2 if rng.random() < 0.015 or (year == 2014 and
                                                  cow is cows[0]) else 1
        for _ in range(n_calves):         # twins are full sibs, same date
            gen = 1 + max(cow.gen, sire.gen if isinstance(sire, Animal) else 0)
            calf = Animal(new_id(HOME_HERD), sire, cow, day,
                          rng.choice('MF'), mix(sire, cow), gen)
            calf.parity = cow.calves + 1
            animals.append(calf)
            born_now.append(calf)
        cow.calves += 1
        cow.mates.append(sire)

    # Keep heifer calves so that the herd stays at its target size two
    # years on; pure or nearly pure dairy heifers first, a few crossbreds.
    future = sum(1 for a in animals if a.kept and a.calves < a.max_calves
                 and year + 2 - a.born.year <= 10)
    # (heifers of first-calvers are not kept: their dams are not proven)
    heifers = [c for c in born_now if c.sex == 'F' and c.parity >= 2]
    heifers.sort(key=lambda c: (c.comp[2] > 0 and rng.random() < 0.9,
                                rng.random()))
    for h in heifers:
        if future >= HERD_TARGET:
            break
        keep_cow(h)
        future += 1

# ----------------------------------------------------------------- output
animals.sort(key=lambda a: (a.born, a.id))
by_id = {a.id: a for a in animals}
assert len(by_id) == len(animals)


def record(a):
    return "%14d %14d %14d %s" % (a.id, a.parent_code(1), a.parent_code(2),
                                  a.born.strftime("%Y%m%d"))


# the repeated record: a cow of DUPLICATE_YEAR with calves of her own
dup = next(a for a in animals if a.born.year >= DUPLICATE_YEAR
           and a.sex == 'F' and a.calves >= 2 and isinstance(a.sire, Animal))

# self-check of what the example promises (see the top of this file)
for a in animals:
    assert datetime.date(1990, 1, 1) <= a.born <= datetime.date(2023, 12, 31)
    for p in (a.sire, a.dam):
        if isinstance(p, Animal):
            assert (a.born - p.born).days >= MIN_PARENT_AGE, a.id
        else:
            assert p in PHG_BREEDS or p == MISSING_SIRE, a.id
    assert not isinstance(a.sire, Animal) or a.sire is not a.dam

lines = []
for a in animals:
    lines.append(record(a))
    if a is dup:
        lines.append(record(a))

with open(os.path.join(HERE, "pedigree.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")

traced = animals[-N_TRACE:]
with open(os.path.join(HERE, "trace.txt"), "w") as f:
    for a in traced:
        f.write("%d\n" % a.id)

used_phg = sorted({a.parent_code(k) for a in animals for k in (1, 2)
                   if a.parent_code(k) <= 0}, reverse=True)
with open(os.path.join(HERE, "breeds.txt"), "w") as f:
    for code in used_phg:
        f.write("%4d %4.2f %4.2f %4.2f\n" % ((code,) + PHG_BREEDS[code]))

with open(os.path.join(HERE, "directives"), "w") as f:
    f.write("# Kinstrom example: dairy herd with three breeds, trace the\n"
            "# youngest animals, breed proportions and inbreeding.\n"
            "&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt',"
            " BPROP_FILE='breeds.txt',\n"
            "  N_BPOP=3, OPT1=2, OPT2=1, DOB_CHECK='Y', MIN_ACC_BD=19900101,"
            " INBREED='YES' /\n")

n_sires = len({a.parent_code(1) for a in animals if a.parent_code(1) > 0})
print("animals %d (records %d), generations %d, born %s..%s"
      % (len(animals), len(lines), max(a.gen for a in animals),
         animals[0].born, animals[-1].born))
print("sires %d, PHGs %s, traced %d, repeated record %d"
      % (n_sires, used_phg, len(traced), dup.id))
