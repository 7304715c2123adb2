#!/usr/bin/env python3
"""Generate a large, made-up but realistic pedigree run folder for benchmarking Kinstrom.

    python3 gen_pedigree.py --animals 1000000 --seed 1 --out DIR [--phg-codes year]
                            [--table [--iso-dates]] [--cohorts K|auto]
    python3 gen_pedigree.py --depth-of FILE

Writes into DIR (created if missing; with --table as tables, below):
  pedigree.txt  ID, sire ID, dam ID, birth date (yyyymmdd), blank separated, sorted by birth date
  trace.txt     the youngest 10 % of the animals, one ID per line
  breeds.txt    every PHG code used, then the proportions of the three breeds (not with
                --phg-codes year)
  directives    the directive group read by kinstrom from standard input

Python 3 standard library only; the same --animals and --seed give the same files.

The population
--------------
Three breeds (base populations): breed 1 is the large dairy breed, breed 2 a smaller dairy
breed, breed 3 a beef breed used for crossing. Animals are born over 80 years (1945-2024), in
cohorts that grow about fourfold over that time, with more births in spring.
- Dams are females of their breed aged 2 to 10 years, younger ones more often, drawn at random,
  so each has few offspring. A dam mated again often gets the same sire (full sibs); about
  1.5 % of births are twins (same parents, same date, adjacent records).
- Sires: bull calves are kept as future sires with a small probability, higher for sons of
  popular sires and for imported founder bulls, so that about 1.5 % of the males end up used
  as sires. A sire is used from age 2 to 7 on for some years; its popularity is drawn from a
  Pareto distribution, so a few sires have tens of thousands of offspring in a large run and
  stay in use longer. Some dams are crossed to a sire of another breed.
- Every parent is born at least 548 days (1.5 years) before its offspring.
- Unknown parents, common in the first decades and rare later, are PHG codes by breed and by
  decade of the offspring's birth: -(10 * breed + decade), so -11 is breed 1 in 1945-1954 and
  -38 breed 3 in 2015-2024. Later groups carry a little of the other breeds.
- IDs: 12 to 14 digits for home-bred animals (a herd number of 7, 8 or 9 digits by breed, then a
  5-digit serial within the herd; offspring stay in their dam's herd), 15 digits for imported
  founder bulls (a 3-digit country code, then 12 digits).

With --phg-codes year the pedigree is the same animal for animal, but unknown parents are PHG
codes by breed, by sex of the unknown parent and by year of the offspring's birth:
-(10000 * (10 * breed + parent) + year), parent 1 for a sire and 2 for a dam, so -111945 is an
unknown sire of breed 1 in 1945 and -322024 an unknown dam of breed 3 in 2024: up to
3 x 2 x 80 = 480 codes, within the default MAX_PHG of 500. No breeds.txt is written and the
directives name no BPROP_FILE, so every PHG is a base population of its own.

With --table the same pedigree, animal for animal, is written as tables the way spreadsheets and
statistics programs write them (kinstrom --table reads them), with the same directives:
- pedigree.txt: the header line "ID","Sire","Dam","Born", then one record to a line, every value
  in double quotes and separated by commas, PHG codes too; the birth date yyyymmdd as in the
  plain file, or yyyy-mm-dd with --iso-dates.
- IDs are texts of 19 characters made from the numeric ID and the sex of the animal: two letters
  for the breed, two for the country, M or F, then 14 digits with leading zeros. A home-bred
  animal's number is its numeric ID (breeds HO, JE and AN by the length of the herd number,
  country NZ); an imported bull's is the 12 digits after its country code (DE, NL, US, FR, CH),
  with the breed of the animal. So 123456712345, a female of breed 1, is "HONZF00123456712345".
  The byte order of the texts is not the order of the numbers.
- trace.txt: the header line "ID", then the IDs in quotes.
- breeds.txt: the header line "PHG","HO","JE","AN", then the PHG code in quotes and the three
  proportions.

Generation cohorts (--cohorts K)
--------------------------------
With --cohorts K the population is of the same kind (breeds, crossing, popular sires, dams of
few offspring, repeat matings, twins, PHG codes, the 548 days, the IDs, the files) but made of
K generation cohorts, so that the depth of the pedigree is K. The depth of an animal is the
longest line from it back to unknown parents, counting the animal: 1 for an animal whose
parents are both unknown, otherwise 1 + the larger depth of its known parents.
- Each generation cohort spans 4 birth years; the last one ends in 2024, so the animals are
  born from 2025 - 4 K on (1913 for K = 28), in yearly cohorts growing about fourfold.
- A parent always comes from an earlier generation cohort than its offspring: a parent of an
  animal of cohort g (counted from 0) has a depth of at most g, so no animal is deeper than K.
  The first cohort has unknown parents only.
- Overlapping generations: a dam is a female of her breed drawn at random from cohort g-1
  (weight 0.75), g-2 (0.20) or g-3 (0.05), a sire a candidate of the breed (or of the crossing
  breed) drawn by popularity from cohort g-1 (0.70), g-2 (0.22) or g-3 (0.08); the weights of
  the cohorts that exist are used. A draw of a parent born less than 548 days before the
  animal, or of a dam with 8 offspring, is tried again (8 tries, then the parent is unknown).
  Since most parents come from the cohort just before, a line through every cohort is all but
  certain and the deepest animals of the last cohort have depth K (in a small population of
  many cohorts it may be K-1: 34 for 50 thousand animals in 35 cohorts).
- Sire candidates are kept among the bull calves and imported founder bulls as above, each
  with a popularity drawn from the Pareto distribution; a dam mated again often gets the same
  sire, which belongs to an earlier cohort too (now and then 4 or 5 cohorts back).
- Unknown parents are PHG codes by breed and period, -(10 * breed + period): the birth years
  are split into 8 periods of equal length (decades for 80 years), so the codes are -11 to -38
  as above.
- Births end in 2024 and start in 1900 or later up to K = 31; for an earlier start the
  directives' MIN_ACC_BD is the first of January of the first year. Not with --table or
  --phg-codes year.
K = auto gives K = round(20 + 8 * log(n / 1e6) / log(30)) for n animals: 15 for 100 thousand,
20 for 1 million, 23 for 3 million, 25 for 10 million, 28 for 30 million.

--depth-of FILE prints the number of animals of each depth in the pedigree file FILE (classic
or table; parents must come before their offspring, as in a file sorted by birth date; a parent
without a record of its own counts as an animal of depth 1, a PHG code or a missing value as
unknown).
"""

import argparse
import datetime
import math
import os
import random
import sys
import time
from array import array

FIRST_YEAR = 1945
YEARS = 80
MIN_GAP = 548                      # days between the birth of a parent and of its offspring
BREEDS = 3
BREED_SHARE_START = (0.55, 0.35, 0.10)
BREED_SHARE_END = (0.72, 0.16, 0.12)
CROSS = (0.04, 0.06, 0.05)         # share of dams of each breed crossed to another breed
CROSS_PARTNER = (2, 0, 0)          # breed of the crossing sire (0-based): beef on breed 1
DAM_AGE_WEIGHT = (1.0, 0.9, 0.75, 0.6, 0.45, 0.3, 0.2, 0.12, 0.07)   # ages 2 to 10
MAX_CALVINGS = 8                 # a dam with this many offspring is culled
REPEAT_MATING = 0.3                # a dam gets her previous sire again
TWINS = 0.015
KEEP_SON = 0.008                   # a bull calf becomes a sire candidate ...
KEEP_ELITE_SON = 0.02              # ... of a popular sire
KEEP_IMPORT = 0.3                  # ... imported founder bull
PARETO_ALPHA = 1.3                 # popularity of a sire: Pareto distributed ...
WEIGHT_CAP = 400.0                 # ... up to this
ELITE_WEIGHT = 12.0                # popularity from which a sire counts as popular
START_DELAY = (0, 0, 1, 2, 3, 4, 5)   # years after age 2 before a sire is used
HERD_DIGITS = (7, 8, 9)            # by breed: IDs of 12, 13 and 14 digits
COUNTRIES = (276, 528, 840, 250, 756)   # country codes of imported bulls
# Generation cohorts (--cohorts).
GEN_YEARS = 4                      # birth years of one generation cohort
LAST_YEAR = FIRST_YEAR + YEARS - 1   # births end in this year
PERIODS = 8                        # PHG periods over the birth years
DAM_BACK = (0.75, 0.20, 0.05)      # a dam from the cohort 1, 2 or 3 before
SIRE_BACK = (0.70, 0.22, 0.08)     # a sire from the cohort 1, 2 or 3 before
# Text IDs (--table): letters of the breeds, of the countries of imported bulls and of the home
# country.
BREED_LETTERS = ("HO", "JE", "AN")
COUNTRY_LETTERS = {276: "DE", 528: "NL", 840: "US", 250: "FR", 756: "CH"}
HOME_LETTERS = "NZ"
DIRECTIVES = ("&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt', "
              "BPROP_FILE='breeds.txt', N_BPOP=3, OPT1=2, OPT2=2, INBREED='YES', "
              "DOB_CHECK='Y', MAX_NIV=40, MIN_ACC_BD=19000101{max_a} /\n")
DIRECTIVES_NO_BPROP = ("&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt', "
                       "OPT1=2, OPT2=2, INBREED='YES', DOB_CHECK='Y', MAX_NIV=40, "
                       "MIN_ACC_BD=19000101{max_a} /\n")


def phg_code(breed, year):
    """PHG of unknown parents of a breed (0-based) born in a year: -(10 * breed + decade)."""
    return -(10 * (breed + 1) + (year - FIRST_YEAR) // 10 + 1)


def phg_code_by_year(breed, parent, year):
    """PHG of an unknown parent (0 sire, 1 dam) of an animal of a breed (0-based) born in a
    year, with --phg-codes year: -(10000 * (10 * breed + parent) + year), counted from 1."""
    return -(10000 * (10 * (breed + 1) + parent + 1) + year)


def phg_props(code):
    """Breed proportions of a PHG: its own breed, and a little of the others in later decades."""
    breed, decade = -code // 10 - 1, -code % 10
    props = [0.0] * BREEDS
    props[(breed + 1) % BREEDS] = round(0.010 * (decade - 1), 3)
    props[(breed + 2) % BREEDS] = round(0.005 * (decade - 1), 3)
    props[breed] = 1.0 - props[(breed + 1) % BREEDS] - props[(breed + 2) % BREEDS]
    return props


def id_text(ident, male, import_breed):
    """The 19-character text of a numeric ID (--table), M or F by sex: breed and country letters,
    then 14 digits. import_breed: the breed (0-based) of each imported bull by its ID."""
    if ident >= 10 ** 14:             # imported: a country code, then 12 digits
        country, number = divmod(ident, 10 ** 12)
        head = BREED_LETTERS[import_breed[ident]] + COUNTRY_LETTERS[country]
    else:                             # home-bred: the herd number's length gives the breed
        head = BREED_LETTERS[len(str(ident)) - 12] + HOME_LETTERS
        number = ident
    return "%s%s%014d" % (head, "M" if male else "F", number)


def cohort_sizes(n, years=YEARS):
    """Animals born in each year: linear growth to about four times the first year."""
    w = [1.0 + 3.0 * k / max(1, years - 1) for k in range(years)]
    total = sum(w)
    sizes = [int(n * x / total) for x in w]
    sizes[-1] += n - sum(sizes)
    return sizes


def weighted_stream(rng, items, weights, chunk=4096):
    """Endless draws from items with the given weights, made in chunks."""
    cum, acc = [], 0.0
    for x in weights:
        acc += x
        cum.append(acc)
    while True:
        yield from rng.choices(items, cum_weights=cum, k=chunk)


def dam_stream(rng, cohorts):
    """Endless draws of dams: a cohort by age and size, then a female of it."""
    rand = rng.random
    for pool in weighted_stream(rng, cohorts, [len(c) * w for c, w in
                                              zip(cohorts, DAM_AGE_WEIGHT)]):
        yield pool[int(rand() * len(pool))]


def generate(n, seed, out, phg_codes="decade", table=False, iso_dates=False):
    rng = random.Random(seed)
    rand = rng.random
    sizes = cohort_sizes(n)
    ID = array('q')                 # by record position (0-based)
    BORN = array('i')               # birth date as a day number
    LAST_SIRE = array('i', bytes(4 * n))   # a dam's last sire, position + 1
    NOFF = array('i', bytes(4 * n))        # number of offspring
    DEPTH = bytearray(n)                   # depth of the pedigree (1: both parents unknown)
    females = [[] for _ in range(BREEDS)]  # per breed: arrays of female positions by year
    sires_from = {}                 # first year of use -> [(position, breed, last year, weight)]
    active = []
    elite = set()
    planned = []                    # positions of the sire candidates
    used_phg = set()
    # Herds by breed, their last serial numbers, and the next imported ID by country.
    n_herds = max(4, n // 300)
    herds = [rng.sample(range(10 ** (d - 1), 10 ** d), max(2, n_herds * s // 100))
             for d, s in zip(HERD_DIGITS, (60, 25, 15))]
    serial = {h: rng.randrange(100, 2000) for hs in herds for h in hs}
    import_next = {c: c * 10 ** 12 + rng.randrange(10 ** 11, 5 * 10 ** 11) for c in COUNTRIES}
    dates = {}                      # day number -> 'yyyymmdd' ('yyyy-mm-dd' with iso_dates)
    MALE = bytearray(n) if table else None   # by record position: 1 for a male
    import_breed = {}                        # ID of an imported bull -> its breed (0-based)
    males = founders = twins = repeats = crosses = 0

    def plan_sire(pos, breed, year, weight):
        weight = min(weight, WEIGHT_CAP)
        first = year + 2 + rng.choice(START_DELAY)
        last = first + min(12, int(rng.expovariate(1.0) + math.log(weight)))
        sires_from.setdefault(first, []).append((pos, breed, last, weight))
        planned.append(pos)
        if weight >= ELITE_WEIGHT:
            elite.add(pos)

    f = open(os.path.join(out, "pedigree.txt"), "w", buffering=1 << 22)
    if table:
        f.write('"ID","Sire","Dam","Born"\n')
    pos = 0
    for k, size in enumerate(sizes):
        year = FIRST_YEAR + k
        t = k / (YEARS - 1)
        unknown_dam = 0.02 + 0.6 * (1 - t) ** 4
        unknown_sire = 0.03 + 0.5 * (1 - t) ** 4
        cross = [c * (0.3 + 1.4 * t) for c in CROSS]
        share = [a + (b - a) * t for a, b in zip(BREED_SHARE_START, BREED_SHARE_END)]
        if phg_codes == "year":
            phg_sire = [phg_code_by_year(b, 0, year) for b in range(BREEDS)]
            phg_dam = [phg_code_by_year(b, 1, year) for b in range(BREEDS)]
        else:
            phg_sire = phg_dam = [phg_code(b, year) for b in range(BREEDS)]
        # Active sires by breed, and where dams and sires are drawn from this year.
        active = [s for s in active if s[2] >= year] + sires_from.pop(year, [])
        sire_src, dam_src = [], []
        for b in range(BREEDS):
            mine = [s for s in active if s[1] == b]
            sire_src.append(weighted_stream(rng, [s[0] for s in mine], [s[3] for s in mine])
                            if mine else None)
            cohorts = [c for c in females[b][-10:-1][::-1] if c]   # ages 2 to 10 (when known)
            dam_src.append(dam_stream(rng, cohorts) if cohorts else None)
            females[b].append(array('i'))
        # Birth dates of the cohort, sorted, more in spring; breeds of the animals.
        y0 = datetime.date(year, 1, 1).toordinal()
        ndays = datetime.date(year + 1, 1, 1).toordinal() - y0
        for d in range(ndays):
            dates[y0 + d] = datetime.date.fromordinal(y0 + d).strftime(
                "%Y-%m-%d" if iso_dates else "%Y%m%d")
        season = [1.0 + 0.5 * math.cos(2 * math.pi * (d - 80) / ndays) for d in range(ndays)]
        days = sorted(rng.choices(range(y0, y0 + ndays), season, k=size))
        breeds = rng.choices(range(BREEDS), share, k=size)
        lines = []
        twin = False
        for i in range(size):
            b = breeds[i]
            if twin:                # a twin of the previous record
                twin = False
                day = days[i - 1]
                days[i] = day
                twins += 1
            else:
                day = days[i]
                latest = day - MIN_GAP
                d = s = -1
                src = dam_src[b]
                if src is not None and rand() >= unknown_dam:
                    for _ in range(8):
                        c = next(src)
                        if BORN[c] <= latest and NOFF[c] < MAX_CALVINGS:
                            d = c
                            break
                if d >= 0 and LAST_SIRE[d] and rand() < REPEAT_MATING:
                    s = LAST_SIRE[d] - 1
                    repeats += 1
                elif rand() >= unknown_sire:
                    if rand() < cross[b]:
                        src = sire_src[CROSS_PARTNER[b]]
                        crosses += 1
                    else:
                        src = sire_src[b]
                    if src is not None:
                        for _ in range(8):
                            c = next(src)
                            if BORN[c] <= latest:
                                s = c
                                break
                if d >= 0:
                    LAST_SIRE[d] = s + 1
                twin = rand() < TWINS and i + 1 < size
            # The animal's ID: in its dam's herd, or a new one; imported founder bulls.
            male = rand() < 0.5
            if s < 0 and d < 0:
                founders += 1
                if male and k >= 10 and rand() < 0.5:
                    c = COUNTRIES[int(rand() * len(COUNTRIES))]
                    ident = import_next[c]
                    import_next[c] += 1 + int(rand() * 40)
                    import_breed[ident] = b
                    if rand() < KEEP_IMPORT:
                        plan_sire(pos, b, year, 3 * rng.paretovariate(PARETO_ALPHA))
                    male = None     # already handled
            if male is not None:
                herd = ID[d] // 100000 if d >= 0 else herds[b][int(rand() * len(herds[b]))]
                sn = serial[herd] + 1 + (rand() < 0.2)
                while sn > 99999:   # herd full: a new herd of the breed
                    herd = herds[b][int(rand() * len(herds[b]))]
                    sn = serial[herd] + 1
                serial[herd] = sn
                ident = herd * 100000 + sn
                if male:
                    males += 1
                    if rand() < (KEEP_ELITE_SON if s in elite else KEEP_SON):
                        plan_sire(pos, b, year, rng.paretovariate(PARETO_ALPHA))
                else:
                    females[b][-1].append(pos)
            else:
                males += 1
            ID.append(ident)
            BORN.append(day)
            DEPTH[pos] = 1 + max(DEPTH[s] if s >= 0 else 0, DEPTH[d] if d >= 0 else 0)
            if s >= 0:
                sire_id = ID[s]
                NOFF[s] += 1
            else:
                sire_id = phg_sire[b]
                used_phg.add(sire_id)
            if d >= 0:
                dam_id = ID[d]
                NOFF[d] += 1
            else:
                dam_id = phg_dam[b]
                used_phg.add(dam_id)
            if table:
                MALE[pos] = male is not False
                if s >= 0:
                    sire_id = id_text(sire_id, True, import_breed)
                if d >= 0:
                    dam_id = id_text(dam_id, False, import_breed)
                lines.append('"%s","%s","%s","%s"\n' % (id_text(ident, male is not False,
                                                                 import_breed),
                                                         sire_id, dam_id, dates[day]))
            else:
                lines.append(f"{ident} {sire_id} {dam_id} {dates[day]}\n")
            pos += 1
        f.write("".join(lines))
    f.close()

    assert len(set(ID)) == n, "IDs are not unique"
    with open(os.path.join(out, "trace.txt"), "w") as f:
        if table:
            f.write('"ID"\n')
            f.write("".join('"%s"\n' % id_text(ID[p], MALE[p], import_breed)
                            for p in range(n - max(1, n // 10), n)))
        else:
            f.write("".join(f"{x}\n" for x in ID[n - max(1, n // 10):]))
    if phg_codes != "year":
        with open(os.path.join(out, "breeds.txt"), "w") as f:
            if table:
                f.write('"PHG",%s\n' % ",".join('"%s"' % b for b in BREED_LETTERS))
            for code in sorted(used_phg, reverse=True):
                f.write(('"%d",%.3f,%.3f,%.3f\n' if table else "%d %.3f %.3f %.3f\n")
                        % (code, *phg_props(code)))
    max_a = ""
    if n > 9_000_000:
        max_a = ", MAX_A=%d" % max(12_000_000, -(-n * 6 // 5 // 10 ** 6) * 10 ** 6)
    with open(os.path.join(out, "directives"), "w") as f:
        if phg_codes == "year":
            f.write("# Kinstrom benchmark: %d animals, seed %d, PHGs by breed, parent and year\n"
                    % (n, seed))
            f.write(DIRECTIVES_NO_BPROP.format(max_a=max_a))
        else:
            f.write("# Kinstrom benchmark: %d animals, seed %d\n" % (n, seed))
            f.write(DIRECTIVES.format(max_a=max_a))
    return dict(males=males, founders=founders, twins=twins, repeats=repeats,
                crosses=crosses, phg=len(used_phg), noff=NOFF, sires=planned,
                females=(p for by_year in females for c in by_year for p in c),
                depths=depth_counts(DEPTH))


def depth_counts(depth):
    """Animals of each depth, from 1 to the deepest, of a bytearray of depths."""
    top = max(depth, default=0)
    return [depth.count(k) for k in range(1, top + 1)]


def auto_cohorts(n):
    """The generation cohorts of --cohorts auto for n animals."""
    return round(20 + 8 * math.log(n / 1e6) / math.log(30))


def generate_cohorts(n, seed, out, cohorts):
    """The population in generation cohorts (--cohorts; the top of the script tells how)."""
    rng = random.Random(seed)
    rand = rng.random
    years = GEN_YEARS * cohorts
    first_year = LAST_YEAR + 1 - years
    sizes = cohort_sizes(n, years)
    ID = array('q')                 # by record position (0-based)
    BORN = array('i')               # birth date as a day number
    LAST_SIRE = array('i', bytes(4 * n))   # a dam's last sire, position + 1
    NOFF = array('i', bytes(4 * n))        # number of offspring
    DEPTH = bytearray(n)                   # depth of the pedigree (1: both parents unknown)
    # By generation cohort and breed: the positions of the females, and of the sire candidates
    # with their popularity.
    females = [[array('i') for _ in range(BREEDS)] for _ in range(cohorts)]
    sire_pos = [[array('i') for _ in range(BREEDS)] for _ in range(cohorts)]
    sire_weight = [[array('d') for _ in range(BREEDS)] for _ in range(cohorts)]
    elite = set()
    used_phg = set()
    n_herds = max(4, n // 300)
    herds = [rng.sample(range(10 ** (d - 1), 10 ** d), max(2, n_herds * s // 100))
             for d, s in zip(HERD_DIGITS, (60, 25, 15))]
    serial = {h: rng.randrange(100, 2000) for hs in herds for h in hs}
    import_next = {c: c * 10 ** 12 + rng.randrange(10 ** 11, 5 * 10 ** 11) for c in COUNTRIES}
    males = founders = twins = repeats = crosses = 0

    def plan_sire(pos, g, breed, weight):
        weight = min(weight, WEIGHT_CAP)
        sire_pos[g][breed].append(pos)
        sire_weight[g][breed].append(weight)
        if weight >= ELITE_WEIGHT:
            elite.add(pos)

    def back_choice(weights, have):
        """(cohorts back, their cumulative weights) among the earlier cohorts in have."""
        back = [j for j in range(1, len(weights) + 1) if have(j)]
        cum, acc = [], 0.0
        for j in back:
            acc += weights[j - 1]
            cum.append(acc)
        return back, cum

    def pick(back, cum):
        """One of back, drawn with the cumulative weights cum."""
        r = rand() * cum[-1]
        for j, c in zip(back, cum):
            if r < c:
                return j
        return back[-1]

    f = open(os.path.join(out, "pedigree.txt"), "w", buffering=1 << 22)
    pos = 0
    for g in range(cohorts):
        # Where the dams and sires of this cohort come from: per breed, the earlier cohorts
        # that have any, with their weights; a stream of draws for each.
        dam_from, sire_from = [], []
        for b in range(BREEDS):
            back, cum = back_choice(DAM_BACK, lambda j: g - j >= 0 and len(females[g - j][b]))
            dam_from.append((back, cum) if back else None)
            back, cum = back_choice(SIRE_BACK, lambda j: g - j >= 0 and len(sire_pos[g - j][b]))
            streams = {j: weighted_stream(rng, sire_pos[g - j][b], sire_weight[g - j][b])
                       for j in back}
            sire_from.append((back, cum, streams) if back else None)
        for y in range(GEN_YEARS):
            k = g * GEN_YEARS + y
            year = first_year + k
            size = sizes[k]
            t = k / max(1, years - 1)
            unknown_dam = 0.02 + 0.6 * (1 - t) ** 4
            unknown_sire = 0.03 + 0.5 * (1 - t) ** 4
            cross = [c * (0.3 + 1.4 * t) for c in CROSS]
            share = [a + (b - a) * t for a, b in zip(BREED_SHARE_START, BREED_SHARE_END)]
            phg = [-(10 * (b + 1) + k * PERIODS // years + 1) for b in range(BREEDS)]
            y0 = datetime.date(year, 1, 1).toordinal()
            ndays = datetime.date(year + 1, 1, 1).toordinal() - y0
            dates = [datetime.date.fromordinal(y0 + d).strftime("%Y%m%d") for d in range(ndays)]
            season = [1.0 + 0.5 * math.cos(2 * math.pi * (d - 80) / ndays) for d in range(ndays)]
            days = sorted(rng.choices(range(y0, y0 + ndays), season, k=size))
            breeds = rng.choices(range(BREEDS), share, k=size)
            lines = []
            twin = False
            for i in range(size):
                b = breeds[i]
                if twin:            # a twin of the previous record
                    twin = False
                    day = days[i - 1]
                    days[i] = day
                    twins += 1
                else:
                    day = days[i]
                    latest = day - MIN_GAP
                    d = s = -1
                    src = dam_from[b]
                    if src is not None and rand() >= unknown_dam:
                        back, cum = src
                        for _ in range(8):
                            pool = females[g - pick(back, cum)][b]
                            c = pool[int(rand() * len(pool))]
                            if BORN[c] <= latest and NOFF[c] < MAX_CALVINGS:
                                d = c
                                break
                    if d >= 0 and LAST_SIRE[d] and rand() < REPEAT_MATING:
                        s = LAST_SIRE[d] - 1
                        repeats += 1
                    elif rand() >= unknown_sire:
                        if rand() < cross[b]:
                            src = sire_from[CROSS_PARTNER[b]]
                            crosses += 1
                        else:
                            src = sire_from[b]
                        if src is not None:
                            back, cum, streams = src
                            for _ in range(8):
                                c = next(streams[pick(back, cum)])
                                if BORN[c] <= latest:
                                    s = c
                                    break
                    if d >= 0:
                        LAST_SIRE[d] = s + 1
                    twin = rand() < TWINS and i + 1 < size
                # The animal's ID: in its dam's herd, or a new one; imported founder bulls.
                male = rand() < 0.5
                if s < 0 and d < 0:
                    founders += 1
                    if male and k >= 10 and rand() < 0.5:
                        c = COUNTRIES[int(rand() * len(COUNTRIES))]
                        ident = import_next[c]
                        import_next[c] += 1 + int(rand() * 40)
                        if rand() < KEEP_IMPORT:
                            plan_sire(pos, g, b, 3 * rng.paretovariate(PARETO_ALPHA))
                        male = None     # already handled
                if male is not None:
                    herd = ID[d] // 100000 if d >= 0 else herds[b][int(rand() * len(herds[b]))]
                    sn = serial[herd] + 1 + (rand() < 0.2)
                    while sn > 99999:   # herd full: a new herd of the breed
                        herd = herds[b][int(rand() * len(herds[b]))]
                        sn = serial[herd] + 1
                    serial[herd] = sn
                    ident = herd * 100000 + sn
                    if male:
                        males += 1
                        if rand() < (KEEP_ELITE_SON if s in elite else KEEP_SON):
                            plan_sire(pos, g, b, rng.paretovariate(PARETO_ALPHA))
                    else:
                        females[g][b].append(pos)
                else:
                    males += 1
                ID.append(ident)
                BORN.append(day)
                DEPTH[pos] = 1 + max(DEPTH[s] if s >= 0 else 0, DEPTH[d] if d >= 0 else 0)
                if s >= 0:
                    sire_id = ID[s]
                    NOFF[s] += 1
                else:
                    sire_id = phg[b]
                    used_phg.add(sire_id)
                if d >= 0:
                    dam_id = ID[d]
                    NOFF[d] += 1
                else:
                    dam_id = phg[b]
                    used_phg.add(dam_id)
                lines.append(f"{ident} {sire_id} {dam_id} {dates[day - y0]}\n")
                pos += 1
            f.write("".join(lines))
            del lines
    f.close()

    check_unique(ID)
    with open(os.path.join(out, "trace.txt"), "w") as f:
        for p in range(n - max(1, n // 10), n, 1 << 20):
            f.write("".join(f"{x}\n" for x in ID[p:min(n, p + (1 << 20))]))
    with open(os.path.join(out, "breeds.txt"), "w") as f:
        for code in sorted(used_phg, reverse=True):
            f.write("%d %.3f %.3f %.3f\n" % (code, *phg_props(code)))
    max_a = ""
    if n > 9_000_000:
        max_a = ", MAX_A=%d" % max(12_000_000, -(-n * 6 // 5 // 10 ** 6) * 10 ** 6)
    directives = DIRECTIVES.format(max_a=max_a)
    if first_year < 1900:
        directives = directives.replace("MIN_ACC_BD=19000101", "MIN_ACC_BD=%d0101" % first_year)
    with open(os.path.join(out, "directives"), "w") as f:
        f.write("# Kinstrom benchmark: %d animals, seed %d, %d generation cohorts\n"
                % (n, seed, cohorts))
        f.write(directives)
    return dict(males=males, founders=founders, twins=twins, repeats=repeats,
                crosses=crosses, phg=len(used_phg), noff=NOFF,
                sires=(p for by_breed in sire_pos for c in by_breed for p in c),
                females=(p for by_breed in females for c in by_breed for p in c),
                depths=depth_counts(DEPTH), years=(first_year, LAST_YEAR))


def check_unique(ids):
    """Stops when an ID of the array occurs twice; sorts a copy in pieces of 2^22 IDs, then
    merges them, so that at most a few pieces are Python objects at once."""
    import heapq
    step = 1 << 22
    pieces = []
    for p in range(0, len(ids), step):
        piece = array('q', sorted(ids[p:p + step]))
        pieces.append(piece)
    last = None
    for x in heapq.merge(*pieces):
        assert x != last, "IDs are not unique: %d" % x
        last = x


def depth_of(path):
    """Prints the animals of each depth of the pedigree file at path (--depth-of)."""
    depth = {}
    late = 0                        # parents met before their own record
    missing = set()
    count = [0] * 256
    with open(path, "rb") as f:
        for line in f:
            v = line.replace(b'"', b" ").replace(b",", b" ").split()
            if len(v) < 3:
                continue
            try:
                key = [int(x) for x in v[:3]]
            except ValueError:      # a table, or its header line
                key = [x.decode() for x in v[:3]]
                if key[0] == "ID":
                    continue
            ident, sire, dam = key
            top = 0
            for parent in (sire, dam):
                if isinstance(parent, int):
                    if parent <= 0:
                        continue
                elif parent in ("", "NA") or parent.lstrip("+-").isdigit() and int(parent) <= 0:
                    continue
                p = depth.get(parent)
                if p is None:       # no record (yet): an animal of unknown parents
                    p = 1
                    missing.add(parent)
                if p > top:
                    top = p
            if ident in missing:
                late += 1
            depth[ident] = top + 1
            count[top + 1] += 1
    n = sum(count)
    deepest = max((k for k in range(256) if count[k]), default=0)
    print("# depth of the pedigree %s: %d animals, deepest %d, mean %.2f"
          % (path, n, deepest, sum(k * c for k, c in enumerate(count)) / max(1, n)))
    if late:
        print("# %d animals are parents of animals before their own record: depths are too "
              "small" % late)
    print("depth animals")
    for k in range(1, deepest + 1):
        print(k, count[k])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--animals", type=int, help="number of animals (records)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    ap.add_argument("--out", help="folder to write the run folder's files into")
    ap.add_argument("--phg-codes", choices=("decade", "year"), default="decade",
                    help="PHGs of unknown parents by breed and decade, with breeds.txt "
                         "(default), or by breed, parent and year, without")
    ap.add_argument("--table", action="store_true",
                    help="write the files as tables with a header, text IDs and values in "
                         "quotes separated by commas (for kinstrom --table)")
    ap.add_argument("--iso-dates", action="store_true",
                    help="with --table: birth dates yyyy-mm-dd (default yyyymmdd)")
    ap.add_argument("--cohorts", metavar="K",
                    help="K generation cohorts, so that the pedigree is K deep, or auto: "
                         "round(20 + 8 log(n / 1e6) / log(30)) for n animals")
    ap.add_argument("--depth-of", metavar="FILE",
                    help="print the animals of each depth of a pedigree file, and nothing else")
    ap.add_argument("--quiet", action="store_true", help="print no summary")
    args = ap.parse_args()
    if args.depth_of:
        depth_of(args.depth_of)
        return
    if args.animals is None or args.out is None:
        ap.error("--animals and --out are needed (or --depth-of FILE)")
    if args.animals < 100:
        ap.error("--animals must be at least 100")
    if args.iso_dates and not args.table:
        ap.error("--iso-dates goes with --table")
    cohorts = None
    if args.cohorts is not None:
        cohorts = (auto_cohorts(args.animals) if args.cohorts == "auto"
                   else int(args.cohorts) if args.cohorts.isdigit() else 0)
        if not 1 <= cohorts <= 200:
            ap.error("--cohorts must be a number from 1 to 200, or auto")
        if args.table or args.phg_codes != "decade":
            ap.error("--cohorts goes with neither --table nor --phg-codes year")
    os.makedirs(args.out, exist_ok=True)
    t0 = time.monotonic()
    if cohorts:
        st = generate_cohorts(args.animals, args.seed, args.out, cohorts)
    else:
        st = generate(args.animals, args.seed, args.out, args.phg_codes, args.table,
                      args.iso_dates)
    if args.quiet:
        return
    n, noff = args.animals, st["noff"]
    sires = sorted((noff[p] for p in st["sires"] if noff[p]), reverse=True)
    dams = [noff[p] for p in st["females"] if noff[p]]
    print("%d animals in %.1f s (seed %d) -> %s" % (n, time.monotonic() - t0, args.seed,
                                                    args.out), file=sys.stderr)
    print("  sires %d (%.2f %% of %d males), offspring of the top five: %s"
          % (len(sires), 100.0 * len(sires) / st["males"], st["males"],
             " ".join(map(str, sires[:5]))), file=sys.stderr)
    print("  dams %d, offspring per dam: mean %.2f, max %d"
          % (len(dams), sum(dams) / max(1, len(dams)), max(dams, default=0)), file=sys.stderr)
    print("  founders %d, twins %d, repeat matings %d, crosses %d, PHG codes %d"
          % (st["founders"], st["twins"], st["repeats"], st["crosses"], st["phg"]),
          file=sys.stderr)
    if cohorts:
        print("  %d generation cohorts of %d years, births %d-%d"
              % (cohorts, GEN_YEARS, *st["years"]), file=sys.stderr)
    depths = st["depths"]
    print("  depth of the pedigree %d; animals by depth: %s"
          % (len(depths), " ".join("%d:%d" % (k + 1, c) for k, c in enumerate(depths))),
          file=sys.stderr)

if __name__ == "__main__":
    main()
