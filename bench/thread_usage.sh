# Per-thread wake-ups and CPU of a process over a stretch of time, from
# /proc/<pid>/task/*: voluntary context switches (each one a wake-up after
# waiting) and schedstat's exact run time. Sourced by the bench scripts.
#   thread_snapshot PID > FILE          before, and again after
#   thread_report BEFORE AFTER SECONDS  the busiest threads: name, wake-ups
#                                       per second, share of a core

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
