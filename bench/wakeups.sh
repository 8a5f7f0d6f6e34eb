#!/usr/bin/env bash
# Wake-ups and system calls of the idle link, per beacon.
#   bench/wakeups.sh BUILD_DIR      (e.g. build-bench; needs perf and strace, as root)
# Runs idle_cost for 20 s; from its 6th second records every context switch
# of the machine for 10 s, then counts system calls for 5 s. Prints the
# switches to the benchmark's threads: all of them, those that woke an idle
# processor, and those that took a processor from another program (the
# benchmark's own device process excepted).
set -euo pipefail
build=${1:?build directory}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/idle_cost" --seconds 20 >"$work/run.txt" 2>&1 &
pid=$!
sleep 5
ls "/proc/$pid/task" >"$work/tids"
perf record -q -e sched:sched_switch -a -o "$work/perf.data" -- sleep 10 >/dev/null 2>&1
timeout 5 strace -c -f -p "$pid" -o "$work/strace.txt" >/dev/null 2>&1 || true
wait "$pid"
perf script -i "$work/perf.data" -F trace 2>/dev/null |
    awk -v tids="$work/tids" '
        BEGIN { while ((getline t < tids) > 0) mine[t] = 1 }
        {
            next_pid = ""
            for (i = 1; i <= NF; i++) if ($i ~ /^next_pid=/) { split($i, a, "="); next_pid = a[2] }
            if (!(next_pid in mine)) next
            all++
            if ($0 ~ /prev_comm=swapper/) idle++
            if ($0 !~ /prev_comm=idle_cost/) outside++
        }
        END { printf "10 s: %d switches to the link threads, %d from idle, %d from another process\n", all, idle, outside }'
echo "system calls over 5 s:"
cat "$work/strace.txt"
grep "in-process link" "$work/run.txt"
