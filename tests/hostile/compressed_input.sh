#!/usr/bin/env bash
# Compressed input files: a gzip pedigree of many members that decompresses to more than 4 GiB
# (its last member's size field says 9 bytes) reads as the plain file; a cut-short or damaged
# gzip or zstd file, whichever input it is, stops the run with status 16 and a message naming
# the file and the fault.
#
#   compressed_input.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
directives="&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', INBREED='YES' /"

# The plain run: two records, the first followed on its line by blanks, which are not read.
mkdir plain big
printf '1 0 0 1\n2 1 0 2\n' > plain/ped
echo 2 > plain/sel
cp plain/sel big/sel
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
(cd big && "$bin" <<< "$directives" > listing 2> stderr)
status=$?
if [ "$status" != 0 ] || ! cmp -s plain/listing big/listing || ! cmp -s plain/stderr big/stderr; then
    echo "FAIL: the 4.1 GiB gzip pedigree: status $status, listing or messages differ:"
    diff plain/listing big/listing | head -n 20
    cat big/stderr
    fail=1
fi
for f in plain/sel.*; do
    cmp -s "$f" "big/$(basename "$f")" || { echo "FAIL: $(basename "$f") differs"; fail=1; }
done
rm -f big/ped

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
