#!/usr/bin/env bash
# Compressed input files: a gzip pedigree of many members that decompresses to more than 4 GiB
# (its last member's size field says 9 bytes) reads as the plain file, and so do zstd files
# made by the tools with skippable frames or a 2 GiB window; a file that needs a dictionary, a
# compressed file inside a compressed file, a text that expands past the bound
# (KINSTROM_MAX_INPUT) and a cut-short or damaged gzip or zstd file, whichever input it is,
# stop the run with status 16 and a message naming the file and the fault, the listing as
# complete as at any stop. A malformed KINSTROM_MAX_INPUT is one warning.
#
#   compressed_input.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
directives="&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', INBREED='YES' /"

# The plain run: two records, the first followed on its line by blanks, which are not read.
mkdir plain big pzstd skip long dict samples gzip_gzip zstd_gzip cut zbomb zdeclared gbomb fits warn
printf '1 0 0 1\n2 1 0 2\n' > plain/ped
echo 2 > plain/sel
(cd plain && "$bin" <<< "$directives" > listing 2> stderr) || { echo "FAIL: plain run"; exit 1; }

# 4200 members of 1 MiB of blanks between the two records: 4.1 GiB of text.
python3 - <<'EOF'
import gzip
blanks = gzip.compress(b" " * (1 << 20), mtime=0)
with open("big/ped", "wb") as f:
    f.write(gzip.compress(b"1 0 0 1", mtime=0))
    for _ in range(4200):
        f.write(blanks)
    f.write(gzip.compress(b"\n2 1 0 2\n", mtime=0))
EOF
# same_as_plain CASE: the run in folder CASE on its own ped gives the plain run's status,
# listing, messages and files.
same_as_plain() {
    cp plain/sel "$1/"
    (cd "$1" && "$bin" <<< "$directives" > listing 2> stderr)
    local status=$? f
    if [ "$status" != 0 ] || ! cmp -s plain/listing "$1/listing" ||
        ! cmp -s plain/stderr "$1/stderr"; then
        echo "FAIL: $1: status $status, listing or messages differ from the plain run:"
        diff plain/listing "$1/listing" | head -n 20
        cat "$1/stderr"
        fail=1
    fi
    for f in plain/sel.*; do
        cmp -s "$f" "$1/${f#plain/}" || { echo "FAIL: $1: ${f#plain/} differs"; fail=1; }
    done
}
# Bounded generously: a machine with less than twice the text's memory reads it too.
KINSTROM_MAX_INPUT=6G same_as_plain big
rm -f big/ped

# zstd as the tools write it: a skippable frame before each frame (pzstd); skippable frames
# first, between frames and last; a frame from a pipe with a 2 GiB window (--long=31).
pzstd -q -p 2 -c plain/ped > pzstd/ped
skippable() { printf "\\x$1\\x2a\\x4d\\x18\\x03\\x00\\x00\\x00abc"; }
{ skippable 5f; head -n 1 plain/ped | zstd -q -c; skippable 50
  tail -n +2 plain/ped | zstd -q -c; skippable 5a; } > skip/ped
zstd -q --long=31 -c < plain/ped > long/ped
for d in pzstd skip long; do same_as_plain "$d"; done

# refused CASE TEXT: the run in folder CASE stops with status 16 on reading its ped, with the
# listing of a stop on a cut-short ped (nothing written before the stop is lost), and says
# "cannot read the file, compressed with TEXT".
gzip -c plain/ped | head -c 20 > cut/ped
cp plain/sel cut/
(cd cut && "$bin" <<< "$directives" > listing 2> stderr)
refused() {
    cp plain/sel "$1/"
    (cd "$1" && "$bin" <<< "$directives" > listing 2> stderr)
    local status=$?
    if [ "$status" != 16 ] || ! cmp -s cut/listing "$1/listing" ||
        [ "$(cat "$1/stderr")" != "kinstrom: ped: error: cannot read the file, compressed with $2" ]
    then
        echo "FAIL: $1: status $status, listing differs or the message is not \"...$2\":"
        diff cut/listing "$1/listing" | head -n 20
        cat "$1/stderr"
        fail=1
    fi
}
grep -q "^ Error when reading file ped$" cut/listing || { echo "FAIL: the cut-short stop"; fail=1; }

python3 -c 'import random
random.seed(1)
for i in range(200):
    with open(f"samples/{i}", "w") as f:
        f.writelines(f"{i * 20 + j} {random.randint(0, 999)} -1 {20000101 + j}\n" for j in range(20))'
zstd -q --train --dictID=4242 samples/* -o dictionary 2> /dev/null
zstd -q -D dictionary -c plain/ped > dict/ped
refused dict "zstd: the zstd data needs a zstd dictionary (dictionary ID 4242) to be decompressed: \
decompress it with its dictionary first (zstd -d -D DICTIONARY) and read the plain file"
for inner in gzip zstd; do
    "$inner" -q -c plain/ped | gzip -c > "${inner}_gzip/ped"
    refused "${inner}_gzip" "gzip: its text is compressed once more, with $inner (a $inner file \
inside a gzip file): decompress it once, and the file it gives is read as it is"
done

# Bombs: the records, then 8 MiB of line ends; from a pipe no size is declared.
{ cat plain/ped; head -c 8M /dev/zero | tr '\0' '\n'; } > text
zstd -q -c < text > zbomb/ped
zstd -q -c text > zdeclared/ped
gzip -c < text > gbomb/ped
cp gbomb/ped fits/
past="the text expands past 1 MiB, the bound set by KINSTROM_MAX_INPUT"
advice="decompress it to a plain file first (a plain file is mapped, not held in memory), or \
raise KINSTROM_MAX_INPUT"
KINSTROM_MAX_INPUT=1M refused zbomb "zstd: $past: $advice"
KINSTROM_MAX_INPUT=1024K refused zdeclared "zstd: $past (its zstd frame header declares 8 MiB): \
$advice"
KINSTROM_MAX_INPUT=1048576 refused gbomb "gzip: $past: $advice"
KINSTROM_MAX_INPUT=1M refused long "zstd: the zstd data needs a window (zstd --long) past \
128 MiB, the largest allowed for a text of at most 1 MiB, the bound set by KINSTROM_MAX_INPUT: \
$advice"
KINSTROM_MAX_INPUT=9M same_as_plain fits

# A malformed KINSTROM_MAX_INPUT: one warning, and the machine's bound.
gzip -c plain/ped > warn/ped
cp plain/sel warn/
for value in 12Q 0 -5 99999999999999999999 1.5G; do
    (cd warn && KINSTROM_MAX_INPUT=$value "$bin" <<< "$directives" > listing 2> stderr)
    status=$?
    if [ "$status" != 0 ] || ! cmp -s plain/listing warn/listing ||
        [ "$(wc -l < warn/stderr)" != 1 ] || ! grep -q "^kinstrom: warning: \
KINSTROM_MAX_INPUT=\"$value\" is not a size: give a whole number of bytes above 0, or of KiB, \
MiB, GiB or TiB with K, M, G or T after it; the machine's bound is used instead, [0-9.]* [KMGTPE]iB \
(.*)$" warn/stderr; then
        echo "FAIL: KINSTROM_MAX_INPUT=$value: status $status: $(cat warn/stderr)"
        fail=1
    fi
done

# Damaged files: each input in turn, cut short or with a byte changed.
full="&DIRECTIVES PED_FILE='p', PROB_FILE='t', BPROP_FILE='b', N_BPOP=3, OPT1=2 /"
declare -A source=([p]=pedigree.txt [t]=trace.txt [b]=breeds.txt)
for packer in gzip zstd; do
    for fault in "ends early: the file is cut short (truncated)" "is corrupt"; do
        for input in p t b; do
            for f in p t b; do "$packer" -q -c "$2/${source[$f]}" > "$f"; done
            python3 -c 'import sys
d = bytearray(open(sys.argv[1], "rb").read())
if sys.argv[2] == "is corrupt": d[len(d) // 2] ^= 0x5a
else: d = d[:len(d) * 2 // 3]
open(sys.argv[1], "wb").write(d)' "$input" "$fault"
            "$bin" <<< "$full" > listing 2> stderr
            status=$?
            if [ "$status" != 16 ] || ! grep -q "^ Error when reading file $input$" listing ||
                ! grep -q "^kinstrom: $input: error: cannot read the file, compressed with \
$packer: the $packer data $fault" stderr; then
                echo "FAIL: $packer file $input that $fault: status $status: $(cat stderr)"
                fail=1
            fi
        done
    done
done
exit $fail
