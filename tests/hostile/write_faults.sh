#!/usr/bin/env bash
# A file-size limit reached while writing the error or output files (SIGXFSZ ignored, so the
# writes fail with EFBIG as on a full disk): the run stops with the write-failure lines and
# exit status 16, whichever file meets the limit.
#
#   write_faults.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
directives="&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt', BPROP_FILE='breeds.txt',
  N_BPOP=3, OPT1=2, OPT2=1, DOB_CHECK='Y', MIN_ACC_BD=19900101, INBREED='YES' /"

# Without a limit: the run ends normally and its largest file sets the limits tried.
(cd "$work" && printf '%s\n' "$directives" | SOURCE_DATE_EPOCH=1796450637 TZ=UTC "$bin" > listing) ||
    { echo "FAIL: the run without a limit did not end normally"; exit 1; }
# Limits in blocks of 1024 bytes: 0 fails the first byte of any file; then, for each file of
# the normal run of 1 KiB or more, a limit just below its size (that file or one written before
# it fails).
limits="0"
for f in "$work"/trace.txt.*; do
    size=$(stat -c %s "$f")
    [ "$size" -ge 1024 ] && limits="$limits $(((size - 1) / 1024))"
done
seen=""
for blocks in $limits; do
    rm -f "$work"/trace.txt.*
    # The listing goes through a pipe, which the limit does not bound.
    (cd "$work" && trap '' XFSZ && ulimit -f "$blocks" &&
        exec env SOURCE_DATE_EPOCH=1796450637 TZ=UTC "$bin" <<< "$directives" 2> stderr) |
        cat > "$work/limited"
    status=${PIPESTATUS[0]}
    failed=$(sed -n 's/^ Error when writing file \(.*\)$/\1/p' "$work/limited")
    last=$(grep -v '^ *$' "$work/limited" | tail -n 1)
    if [ "$status" != 16 ] || [ -z "$failed" ] || [ "$last" != " Program terminates" ]; then
        echo "FAIL limit $blocks KiB: status $status, failed file '$failed', last line '$last'"
        fail=1
    fi
    # Standard error names the file and the system's reason (under a limit of 0 standard error,
    # a file here, cannot be written either).
    [ "$blocks" = 0 ] || grep -q "^kinstrom: $failed: error: cannot write the file: File too large" "$work/stderr" ||
        { echo "FAIL limit $blocks KiB: standard error: $(cat "$work/stderr")"; fail=1; }
    seen="$seen $(basename "$failed")"
done
# The limits reach more than one kind of file.
if [ "$(tr ' ' '\n' <<< "$seen" | sort -u | grep -c .)" -lt 2 ]; then
    echo "FAIL: every limit failed in the same file:$seen"
    fail=1
fi
echo "files that met the limit:$seen"
exit $fail
