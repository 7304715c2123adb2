# Sourced by the hostile-input scripts: the binary under test (first argument), a work folder
# removed at exit, the failure flag, and the example input files copied in when a second
# argument names the examples folder.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
if [ $# -ge 2 ]; then
    cp "$2/pedigree.txt" "$2/trace.txt" "$2/breeds.txt" "$work/"
fi
