#!/usr/bin/env bash
# A run stopped by a signal while it writes a summary: it ends by that signal (status 130 or
# 143 in the shell) within a second, leaves no temporary file, and the summary and report say
# in which phase it was interrupted; killed outright, it leaves no summary. Once while it waits for its directives, once in the middle
# of its inbreeding phase (a made-up pedigree of random matings, slow to compute), where a
# named pipe without a reader cannot hold it up.
#
#   interrupted.sh KINSTROM SCHEMA
schema=$(realpath "$2")
set -- "$1"
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
set -m # the runs in the background take SIGINT as in a terminal
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC

# stop_when PATTERN SIGNAL WANTED_STATUS: sends SIGNAL to the run (started in the background
# as $run) once its standard error holds PATTERN (empty: at once); checks its status and that it ended within
# a second of the signal.
stop_when() {
    for _ in $(seq 200); do [ -z "$1" ] || grep -q -- "$1" stderr && break; sleep 0.05; done
    local start=$(date +%s%N)
    kill -s "$2" "$run"
    wait "$run"
    local status=$? took=$((($(date +%s%N) - start) / 1000000))
    [ "$status" = "$3" ] && [ "$took" -lt 1000 ] ||
        { echo "FAIL $2: status $status (want $3) after $took ms"; fail=1; }
}
interrupted() { # SIGNAL PHASE: what the summary says
    /usr/bin/python3 -c 'import json, jsonschema, sys
s = json.load(open("s.json"))
jsonschema.validate(s, json.load(open(sys.argv[3])))
want = {"signal": sys.argv[1], "phase": sys.argv[2]}
sys.exit(not (s["interrupted"] == want and s["exit_status"] in (130, 143)
              and "interrupted by" in s["stop"]["text"]))' "$1" "$2" "$schema" &&
        grep -q "interrupted by $1" r.html && ! compgen -G "*.??????" > /dev/null ||
        { echo "FAIL: the summary or report of the run stopped by $1: $(cat s.json)"; fail=1; }
}

echo '{"exit_status": 0}' > s.json
mkfifo directives
sleep 30 > directives &
KINSTROM_PROGRESS=1 "$bin" --summary s.json --report r.html < directives > listing 2> stderr &
run=$!
sleep 0.3
stop_when "" INT 130
interrupted SIGINT "directives and files"
kill %1

awk -v n=100000 -v g=10000 'BEGIN { srand(7); for (i = 1; i <= n; i++) {
    s = d = 0; b = int((i - 1) / g) * g - g
    if (b >= 0) { s = b + 2 * int(rand() * g / 2) + 1; d = b + 2 * int(rand() * g / 2) + 2 }
    print i, s, d, i } }' > ped.txt
seq 90001 100000 > trace.txt
mkfifo pipe
echo "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='trace.txt', INBREED='YES' /" |
    KINSTROM_PROGRESS=1 "$bin" --summary s.json --report r.html > listing 2> stderr &
run=$!
stop_when "order, generations, walks" TERM 143
interrupted SIGTERM inbreeding
echo "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='trace.txt', INBREED='YES' /" |
    KINSTROM_PROGRESS=1 "$bin" --summary pipe --report r.html > listing 2> stderr &
run=$!
stop_when "order, generations, walks" TERM 143
# Killed outright, a run leaves no summary rather than an earlier one.
echo '{"exit_status": 0}' > s.json
echo "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='trace.txt', INBREED='YES' /" |
    KINSTROM_PROGRESS=1 "$bin" --summary s.json > listing 2> stderr &
run=$!
stop_when "order, generations, walks" KILL 137
[ ! -e s.json ] || { echo "FAIL: a summary was left behind a killed run: $(cat s.json)"; fail=1; }
exit $fail
