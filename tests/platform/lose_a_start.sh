#!/usr/bin/env bash
# Makes Wine lose a start on purpose and checks that the run says so. Usage:
#   lose_a_start.sh WINE-RUN LOSEASTART.EXE PROGRAM.EXE [--process-named]
# LoseAStart runs under wine-run; once it is up, its address space is limited to 1 GiB, too
# little for the reservations Wine's loader makes in a new process, so the program it then
# starts dies in Wine's start-up, before any of its own code. LoseAStart starts it through the
# test kit, which must try it three times, each try answered ERROR_INTERNAL_ERROR (1359), and say
# the two tries again; wine-run must name the Unix process that died and say it died before Wine
# started its program. Only LoseAStart's own Unix process is limited: the one under the wine-run
# started here that bears its name, never a process of another run.
#
# wine-run does not hear of every process that dies so, of the 64-bit loader least of all
# (docs/testing.md has the figures): a try without the line is said and made again, four times at
# most, and only with --process-named (the 32-bit build) is a run without one a failure. A try
# whose start does not end in "error 1359, 3 tries" fails at once.
set -uo pipefail
wine_run=$1 tool=$2 program=$3 named=${4:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
windows() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }
# The Unix process of a Windows program bears the program's name (cut to 15 characters).
name=$(basename "$tool")
name=${name:0:15}

# The process named $2 among the descendants of process $1, or nothing.
descendant_named() {
    local child
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        if [ "$(cat /proc/"$child"/comm 2>/dev/null)" = "$2" ]; then
            echo "$child"
            return
        fi
        descendant_named "$child" "$2"
    done
}

for try in 1 2 3 4 5; do
    rm -f "$dir"/*
    "$wine_run" "$tool" "$(windows "$dir/ready")" "$(windows "$dir/go")" "$(windows "$program")" \
        >"$dir/out" 2>"$dir/err" &
    runner=$!
    for _ in $(seq 6000); do
        [ ! -s "$dir/ready" ] && kill -0 "$runner" 2>/dev/null || break
        sleep 0.01
    done
    if [ ! -s "$dir/ready" ]; then
        wait "$runner"
        status=$?
        cat "$dir/out" "$dir/err"
        [ "$status" = 77 ] && exit 77 # no 32-bit programs on this machine: wine-run said why
        echo "FAILED: LoseAStart never came up (status $status)"
        exit 1
    fi
    pid=$(descendant_named "$runner" "$name" | head -n 1)
    if [ -z "$pid" ] || ! prlimit --pid "$pid" --as=$((1 << 30)); then
        echo "FAILED: cannot limit the address space of Unix process $pid"
        kill "$runner"
        exit 1
    fi
    touch "$dir/go"
    wait "$runner"
    status=$?
    echo "try $try: LoseAStart ended with status $status and printed: $(tr -d '\r' <"$dir/out")"
    echo "wine-run said:"
    sed 's/^/    /' "$dir/err"
    if [ "$status" != 0 ] || ! tr -d '\r' <"$dir/out" | grep -qx "error 1359, 3 tries"; then
        echo "FAILED: the kit's start did not fail with error 1359 (ERROR_INTERNAL_ERROR) in 3 tries"
        exit 1
    fi
    if [ "$(grep -c '^kit: retried start of .* after .*1359' "$dir/err")" != 2 ]; then
        echo "FAILED: the kit did not say each of its two tries again"
        exit 1
    fi
    if grep -Eq '^wine-run: Unix process [0-9]+ \(wine[^)]*\) .* before Wine started its program' \
        "$dir/err"; then
        exit 0
    fi
    echo "try $try: wine-run heard of no process that died; trying again"
done
if [ "$named" = --process-named ]; then
    echo "FAILED: wine-run did not say which process Wine lost, in five tries"
    exit 1
fi
echo "wine-run did not say which process Wine lost, in five tries; every start answered 1359"
