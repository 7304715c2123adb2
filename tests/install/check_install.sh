#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what lands there: the program runs the
# bundled example exactly as the build's own binary does, the summary schema and the manual page
# are the sources' bytes, and the manual renders without a warning and documents every directive
# key (as the program's own summary names them), every environment variable, the options, the
# exit statuses and the compressed input files.
#
#   check_install.sh KINSTROM_BUILD_DIR SOURCE_DIR
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 KINSTROM_BUILD_DIR SOURCE_DIR" >&2
    exit 2
fi
build=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
failed() {
    echo "FAIL: $*"
    fail=1
}

# CMAKE: the cmake of the build (ctest passes it), else the one on the PATH.
cmake=${CMAKE:-cmake}
prefix=$tmp/prefix
unset DESTDIR
if ! "$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL: $cmake --install $build --prefix $prefix"
    exit 1
fi

bin=$prefix/bin/kinstrom
man=$prefix/share/man/man1/kinstrom.1
schema=$prefix/share/kinstrom/summary.schema.json
for file in "$bin" "$man" "$schema"; do
    [ -f "$file" ] || { echo "FAIL: ${file#"$prefix"/} is not installed"; exit 1; }
done
[ -x "$bin" ] || failed "bin/kinstrom is not executable"
cmp -s "$man" "$src/doc/kinstrom.1" || failed "the installed manual page differs from doc/kinstrom.1"
cmp -s "$schema" "$src/doc/summary.schema.json" ||
    failed "the installed schema differs from doc/summary.schema.json"

# The installed program.
version=$("$bin" --version)
[ "$version" = "Kinstrom ver. 2" ] || failed "kinstrom --version printed '$version'"

# The example, run by the installed binary and by the build's: same status, listing, messages
# and files. The installed run also writes a summary, whose directives name every key.
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
for run in installed built; do
    mkdir "$tmp/$run" && cp "$src"/examples/*.txt "$src/examples/directives" "$tmp/$run/"
done
(cd "$tmp/installed" && "$bin" --summary ../summary.json < directives > listing 2> stderr)
status=$?
[ "$status" = 0 ] || failed "the installed kinstrom exited with status $status on the example"
[ "$(tail -n 1 "$tmp/installed/listing")" = " EOJ" ] ||
    failed "the example's listing does not end with EOJ"
if [ -x "$build/kinstrom" ]; then
    (cd "$tmp/built" && "$build/kinstrom" < directives > listing 2> stderr)
    [ $? = "$status" ] || failed "the build's kinstrom ended with another status"
    diff -r "$tmp/built" "$tmp/installed" > "$tmp/diff" ||
        { cat "$tmp/diff"; failed "the installed kinstrom ran the example differently"; }
else
    failed "no kinstrom in $build to compare with"
fi

# The directive keys: retyped here, and as the program names them in its summary.
keys=(MAX_NIV MAX_A MAX_PHG PED_FILE PROB_FILE BPROP_FILE N_BPOP OPT1 OPT2 GPRUNE DOB_CHECK
      MIN_ACC_BD MAX_ACC_BD MIN_D_SBD MIN_D_DBD INBREED)
program_keys=$(python3 -c 'import json, sys
print(" ".join(json.load(open(sys.argv[1]))["directives"]))' "$tmp/summary.json") ||
    failed "no directive keys in the summary"
[ "$program_keys" = "${keys[*]}" ] ||
    failed "the program's directive keys ($program_keys) are not the ones checked here (${keys[*]})"

# The manual, rendered as a reader sees it: no warning at all.
if ! groff -man -ww -Tutf8 "$man" > "$tmp/page.raw" 2> "$tmp/groff.err"; then
    failed "groff failed on the manual page"
fi
if [ -s "$tmp/groff.err" ]; then
    cat "$tmp/groff.err"
    failed "groff warns about the manual page"
fi
# Plain text: no overstriking or escape sequences, words hyphenated at a line end joined again
# (groff breaks them with U+2010, never with the ASCII '-' of the text), one space for any run
# of blanks and line ends.
sed -e 's/\x1b\[[0-9;]*m//g' -e 's/.\x08//g' "$tmp/page.raw" > "$tmp/page.txt"
flat=$(perl -CSD -0777 -pe 's/\x{2010}\n\s*//g; s/\s+/ /g' "$tmp/page.txt")
lines=$(wc -l < "$tmp/page.txt")
[ "$lines" -gt 300 ] || failed "the rendered page has only $lines lines"

has() {
    case "$flat" in
        *"$1"*) ;;
        *) failed "the rendered manual lacks: $1" ;;
    esac
}
# Section headings stand alone at the left margin.
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS DIRECTIVES FILES ENVIRONMENT "EXIT STATUS" \
    DIAGNOSTICS EXAMPLES "SEE ALSO"; do
    grep -qx "$heading" "$tmp/page.txt" || failed "no section heading $heading"
done
# Each key has its entry in DIRECTIVES with its type and default.
directives=$(sed -n '/^DIRECTIVES$/,/^FILES$/p' "$tmp/page.txt")
for key in "${keys[@]}"; do
    grep -Eq "^ +$key \((integer|text of [0-9]+), default [^)]+\)$" <<< "$directives" ||
        failed "DIRECTIVES has no entry for $key with its type and default"
done
# Each environment variable has its entry in ENVIRONMENT.
environment=$(sed -n '/^ENVIRONMENT$/,/^EXIT STATUS$/p' "$tmp/page.txt")
for variable in SOURCE_DATE_EPOCH TZ KINSTROM_PROGRESS KINSTROM_THREADS PBS_O_WORKDIR SASROOT; do
    grep -Eq "^ +$variable( |$)" <<< "$environment" ||
        failed "ENVIRONMENT has no entry for $variable"
done
# The exit statuses, each an entry of EXIT STATUS.
exits=$(sed -n '/^EXIT STATUS$/,/^DIAGNOSTICS$/p' "$tmp/page.txt")
for code in 0 16; do
    grep -Eq "^ +$code( |$)" <<< "$exits" || failed "EXIT STATUS has no entry for $code"
done
# Options, messages, files and compressed input.
for text in "--summary FILE" "--summary=FILE" "--report FILE" "--report=FILE" "--help" \
    "--version" "kinstrom: FILE:LINE:COLUMN: error: ..." "kinstrom: warning: ..." \
    "compressed with gzip (one or more members, any size) or zstd (one or more frames)" \
    "recognised by its first bytes, whatever its name" \
    "A truncated or corrupt compressed file stops the run with exit status 16" \
    "share/kinstrom/summary.schema.json" "PROB_FILE.PED" "PROB_FILE.PRUNE" \
    "PROB_FILE.BCONTRIB" "PROB_FILE.HET" "PROB_FILE.PHG_RENUM" "PROB_FILE.err1" \
    "PROB_FILE.err8" "Kinstrom 2" "2026-12-07"; do
    has "$text"
done

[ $fail = 0 ] && echo "install and manual page: all checks passed"
exit $fail
