#!/usr/bin/env bash
# One task of a night or an archive spread over many machines: the scan of one SER file into
# the shared output folder. The Slurm array and the GNU parallel runs both call this line:
#
#   scan_task.sh FILE OUT THREADS [serflash scan options...]
#
# THREADS is the cores the scheduler gave the task (0: every core of the machine). The results
# folder is claimed when it is made, so two tasks given the same file write into two folders.
set -euo pipefail
file=$1 out=$2 threads=$3
shift 3
serflash=${SERFLASH:-serflash}
thread_option=()
[ "$threads" -gt 0 ] && thread_option=(--threads "$threads")
exec "$serflash" scan --dir "$out" "${thread_option[@]}" --progress none "$@" -- "$file"
