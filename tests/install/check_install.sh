#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: the program runs the
# bundled example exactly as the build's own binary does, the schema and the manual page are
# the sources' bytes, and the manual renders without a warning and documents every directive key
# (as the program's own summary names them), environment variable, option and exit status.
#
#   check_install.sh KINSTROM_BUILD_DIR SOURCE_DIR
set -u
build=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
failed() { echo "FAIL: $*"; fail=1; }

prefix=$tmp/prefix
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" > "$tmp/log" 2>&1 ||
    { cat "$tmp/log"; echo "FAIL: cmake --install"; exit 1; }
bin=$prefix/bin/kinstrom
man=$prefix/share/man/man1/kinstrom.1
[ -x "$bin" ] || { echo "FAIL: no bin/kinstrom"; exit 1; }
cmp -s "$man" "$src/doc/kinstrom.1" || failed "share/man/man1/kinstrom.1 is not doc/kinstrom.1"
cmp -s "$prefix/share/kinstrom/summary.schema.json" "$src/doc/summary.schema.json" ||
    failed "share/kinstrom/summary.schema.json is not doc/summary.schema.json"
[ "$("$bin" --version)" = "Kinstrom ver. 2" ] || failed "kinstrom --version"

# The example, run by the installed binary and by the build's: the same status, listing,
# messages and files.
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
for run in installed built; do
    mkdir "$tmp/$run" && cp "$src"/examples/*.txt "$src/examples/directives" "$tmp/$run/"
done
(cd "$tmp/installed" && "$bin" --summary ../summary.json < directives > listing 2> stderr) ||
    failed "the installed kinstrom did not end normally on the example"
(cd "$tmp/built" && "$build/kinstrom" < directives > listing 2> stderr)
diff -r "$tmp/built" "$tmp/installed" || failed "the installed kinstrom ran the example differently"

# The manual as a reader sees it: no warning; plain text, words hyphenated at a line end joined
# again, one space for any run of blanks.
groff -man -ww -Tutf8 "$man" 2> "$tmp/warnings" | sed -e 's/\x1b\[[0-9;]*m//g' -e 's/.\x08//g' \
    > "$tmp/page"
[ ! -s "$tmp/warnings" ] || { cat "$tmp/warnings"; failed "groff warns about the manual page"; }
flat=$(perl -CSD -0777 -pe 's/\x{2010}\n\s*//g; s/\s+/ /g' "$tmp/page")
section() { sed -n "/^$1\$/,/^$2\$/p" "$tmp/page"; }
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS DIRECTIVES FILES ENVIRONMENT "EXIT STATUS" \
    DIAGNOSTICS EXAMPLES "SEE ALSO"; do
    grep -qx "$heading" "$tmp/page" || failed "no section $heading"
done
# Every key the program knows (its summary names them all) with its type and default.
keys=$(python3 -c 'import json, sys; print(" ".join(json.load(open(sys.argv[1]))["directives"]))' \
    "$tmp/summary.json")
[ "$(wc -w <<< "$keys")" = 16 ] || failed "the summary names these directive keys: $keys"
for key in $keys; do
    section DIRECTIVES FILES | grep -Eq "^ +$key \((integer|text of [0-9]+), default [^)]+\)$" ||
        failed "DIRECTIVES has no entry for $key with its type and default"
done
for variable in SOURCE_DATE_EPOCH TZ KINSTROM_PROGRESS KINSTROM_THREADS KINSTROM_MAX_INPUT PBS_O_WORKDIR \
    SASROOT; do
    section ENVIRONMENT "EXIT STATUS" | grep -Eq "^ +$variable( |$)" ||
        failed "ENVIRONMENT has no entry for $variable"
done
for code in 0 16; do
    section "EXIT STATUS" DIAGNOSTICS | grep -Eq "^ +$code( |$)" ||
        failed "EXIT STATUS has no entry for $code"
done
for text in "--summary FILE" "--summary=FILE" "--report FILE" "--report=FILE" "--help" \
    "--version" "kinstrom: FILE:LINE:COLUMN: error: ..." "kinstrom: warning: ..." \
    "compressed with gzip (one or more members, any size) or zstd (one or more frames)" \
    "A truncated or corrupt compressed file stops the run with exit status 16" \
    "share/kinstrom/summary.schema.json" "PROB_FILE.PED" "PROB_FILE.PRUNE" "PROB_FILE.BCONTRIB" \
    "PROB_FILE.HET" "PROB_FILE.PHG_RENUM" "PROB_FILE.err1" "PROB_FILE.err8"; do
    [[ $flat == *"$text"* ]] || failed "the manual lacks: $text"
done
exit $fail
