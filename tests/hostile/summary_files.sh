#!/usr/bin/env bash
# The summary and report files: wrong options and names that must not be written (a folder,
# standard input or output, the same file twice) stop before the run; a file that cannot be
# written, or that would replace a file of the run, is not written (status 16, standard error
# says why) while the listing and the other files stay as in a run without it; a plain file is
# replaced whole or not at all, no temporary file is left behind, and a pipe, device or link is
# written through, never replaced. Only files this script makes are written.
#
#   summary_files.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cp "$2/directives" "$work/"
cd "$work" || exit 1
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0

check() { # WHAT STATUS WANTED_STATUS STDERR_PATTERN (empty: standard error empty)
    if [ "$2" != "$3" ] || { [ -n "$4" ] && ! grep -q -- "$4" stderr; } ||
        { [ -z "$4" ] && [ -s stderr ]; }; then
        echo "FAIL $1: status $2 (want $3), standard error: $(cat stderr)" && fail=1
    fi
}
same_as_plain() { # WHAT TARGET: the listing and files of the plain run, no temporary file
    for f in plain/listing plain/files/*; do
        cmp -s "$f" "$(basename "$f")" || { echo "FAIL $1: $(basename "$f") differs"; fail=1; }
    done
    ! compgen -G "$2.??????" || { echo "FAIL $1: a temporary file was left"; fail=1; }
}

"$bin" < directives > listing 2> stderr || { echo "FAIL: the plain run"; exit 1; }
mkdir -p plain/files x && cp listing plain/ && cp trace.txt.* plain/files/

for args in "--summary" "--report" "--summary=" "--summary s --report=s" "--summary --report r" \
    "--summary s --summary" "--summary ./r --report r" "--summary x/../r --report $work/r" \
    "--report ." "--summary /dev/stdout" "--summary directives"; do
    # shellcheck disable=SC2086
    "$bin" $args < directives > out 2> stderr
    check "'$args'" $? 16 "^kinstrom: .*error: "
    [ -s out ] && { echo "FAIL '$args': a run was made"; fail=1; }
done

"$bin" --summary nowhere/s.json < directives > listing 2> stderr
check "summary in a missing folder" $? 16 \
    "^kinstrom: nowhere/s.json: error: the summary was not written: cannot create"
same_as_plain "summary in a missing folder" nowhere/s.json

cp pedigree.txt pedigree.before
for name in pedigree.txt trace.txt.PED; do
    "$bin" --summary "$name" < directives > listing 2> stderr
    check "summary named $name" $? 16 "^kinstrom: $name: error: the summary was not written: this is"
    same_as_plain "summary named $name" "$name"
done
# An input named in the directives is the run's even when the run stops on the directives.
for stop in "OPT1=3" "GPRUNE=99" "NO_SUCH_KEY=1"; do
    sed "s|/ *\$| $stop /|" directives | "$bin" --summary pedigree.txt > /dev/null 2> stderr
    check "summary named pedigree.txt, $stop" $? 16 "^kinstrom: pedigree.txt: error: the summary was"
done
cmp -s pedigree.txt pedigree.before || { echo "FAIL: pedigree.txt replaced"; fail=1; }

# An earlier summary is replaced whole and keeps its mode; through a link, the file it leads to
# is replaced and the link stays; a name of 255 bytes fits its temporary.
echo "earlier" > s.json && chmod 600 s.json && ln -s x/../s.json link.json
long=$(printf 's%.0s' {1..250}).json
"$bin" --summary link.json --report "$long" < directives > listing 2> stderr
check "summary over an earlier one" $? 0 ""
/usr/bin/python3 -c 'import json, sys; json.load(open("s.json"))' || { echo "FAIL: s.json"; fail=1; }
[ -L link.json ] && [ "$(stat -c %a s.json)" = 600 ] && [ -s "$long" ] ||
    { echo "FAIL: link, mode or long name: $(ls -l link.json s.json)"; fail=1; }
same_as_plain "summary over an earlier one" s.json

# A named pipe and a device are written in place; a failing device stops with its reason; the
# program's own descriptor (standard error) is written through, after the messages.
mkfifo pipe
timeout 10 head -c 1 pipe > from_pipe &
"$bin" --summary pipe < directives > listing 2> stderr
check "summary into a pipe" $? 0 ""
wait
[ -p pipe ] && [ "$(cat from_pipe)" = "{" ] || { echo "FAIL: the pipe: $(ls -l pipe)"; fail=1; }
"$bin" --summary /proc/self/fd/2 < directives > listing 2> stderr
check "summary to standard error" $? 0 '"format": "kinstrom-summary"'
if mknod full c 1 7 2> /dev/null; then
    "$bin" --summary full < directives > listing 2> stderr
    check "summary on a full device" $? 16 "^kinstrom: full: error: the summary was not written: cannot write it: No space left on device"
    [ -c full ] || { echo "FAIL: the device is no longer a device"; fail=1; }
else
    echo "skipped: a device node cannot be made here (not root)"
fi

# A name that is not UTF-8 is kept as bytes beside its display form.
latin1=$(printf 'M\xfcller.txt')
cp pedigree.txt "$latin1"
sed "s/pedigree.txt/$latin1/" directives | "$bin" --summary s.json > listing 2> stderr
check "an input named in Latin-1" $? 0 ""
/usr/bin/python3 -c 'import codecs, json, sys
name = json.load(open("s.json"))["inputs"][0]
sys.exit(name["name"] != "M\ufffdller.txt" or codecs.escape_decode(name["name_bytes"])[0] != b"M\xfcller.txt")' ||
    { echo "FAIL: the Latin-1 name in the summary"; fail=1; }

# An output file that is the directive file or the listing's file stops the run before it is
# opened.
cp directives trace.txt.err4
"$bin" < trace.txt.err4 > listing 2> stderr
check "an error file as standard input" $? 16 "error: this output file is also standard input"
cmp -s directives trace.txt.err4 || { echo "FAIL: the directives were written over"; fail=1; }
"$bin" < directives > trace.txt.PED 2> stderr
check "an output file as the listing" $? 16 "error: this output file is also the listing's file"

# An error file named by a link is a file of its own: the file the link led to is left alone.
echo "elsewhere" > elsewhere && rm trace.txt.err* && ln -s elsewhere trace.txt.err1 && ln -s elsewhere trace.txt.err2
"$bin" < directives > listing 2> stderr
[ "$(cat elsewhere)" = elsewhere ] && [ ! -e trace.txt.err1 ] && [ -f trace.txt.err2 ] &&
    [ ! -L trace.txt.err2 ] || { echo "FAIL: an error file through a link"; fail=1; }

# A full disk (a file-size limit that the run's files fit under and the report does not) while
# the report is written: no report, and the earlier one whole.
largest=$(stat -c %s plain/listing plain/files/* | sort -n | tail -n 1)
blocks=$((largest / 1024 + 1))
"$bin" --report r.html < directives > /dev/null 2> stderr
[ "$(stat -c %s r.html)" -gt $((blocks * 1024)) ] ||
    { echo "FAIL: the report is not larger than the run's files; this check needs it to be"; fail=1; }
echo "earlier" > r.html
(trap '' XFSZ && ulimit -f "$blocks" &&
    exec "$bin" --report r.html < directives 2> stderr) | cat > listing
check "report on a full disk" "${PIPESTATUS[0]}" 16 \
    "^kinstrom: r.html: error: the report was not written: cannot write it: File too large"
[ "$(cat r.html)" = earlier ] || { echo "FAIL: the earlier report was not kept whole"; fail=1; }
same_as_plain "report on a full disk" r.html

# The summary tells when the report could not be written.
"$bin" --report nowhere/r.html --summary s.json < directives > listing 2> stderr
check "report in a missing folder" $? 16 "^kinstrom: nowhere/r.html: error: the report was not"
python3 -c 'import json, sys
s = json.load(open("s.json"))
sys.exit(not (s["exit_status"] == 16 and "report was not written" in s["stop"]["text"]))' ||
    { echo "FAIL: the summary does not tell that the report was not written"; fail=1; }
# ... and the report, written first, is written again when the summary then cannot be.
"$bin" --report r.html --summary nowhere/s.json < directives > listing 2> stderr
check "summary in a missing folder after the report" $? 16 "^kinstrom: nowhere/s.json: error: the summary"
grep -q '"status stopped">Stopped (exit status 16)' r.html &&
    grep -q '<strong>The run stopped:</strong> the summary was not written: cannot create' r.html ||
    { echo "FAIL: the report does not tell that the summary was not written"; fail=1; }

# Contributions that are not finite numbers (a breed proportion of 1E308 overflows) are said so
# in the report, not drawn as 0.
sed 's/^  -1 1.00 /  -1 1.0E308 /' breeds.txt > huge.txt
sed 's/breeds.txt/huge.txt/' directives | "$bin" --report r.html > listing 2> stderr
grep -q '<tr><td class="key">1995</td><td class="num">5</td><td class="num">inf</td>' r.html &&
    grep -q '<title>1995, Population 1: inf</title>' r.html ||
    { echo "FAIL: an infinite contribution is not labelled inf"; fail=1; }
exit $fail
