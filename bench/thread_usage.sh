# A process's CPU and its threads' wake-ups over a stretch of time, from
# /proc/<pid>: the process's ticks of 10 ms and its threads' exact run time
# (schedstat), and per thread the voluntary context switches (each one a
# wake-up after waiting). Sourced by the bench scripts.
#   ticks PID, runtime PID              the process so far (ticks; ns)
#   thread_snapshot PID > FILE          before, and again after
#   thread_report BEFORE AFTER SECONDS  the busiest threads: name, wake-ups
#                                       per second, share of a core

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# CPU time run so far by the threads alive now, in ns: exact where ticks are sampled.
runtime() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }

thread_snapshot() {
    for task in /proc/"$1"/task/*; do
        echo "${task##*/} $(tr ' ' _ < "$task/comm") $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")" \
             "$(cut -d' ' -f1 "$task/schedstat")"
    done 2>/dev/null
}

thread_report() {
    join "$1" "$2" | awk -v s="$3" '{ printf "%s %.1f/s %.2f%%,\n", $2, ($6 - $3) / s, ($7 - $4) / s / 1e7 }' |
        sort -k2 -nr | head -"${4:-4}" | tr '\n' ' '
}
