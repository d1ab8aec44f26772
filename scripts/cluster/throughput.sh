#!/usr/bin/env bash
# Measures the throughput of one machine on a made-up night: one local scan of all the files,
# then GNU parallel and (when a one-node Slurm starts here) the Slurm job array with 1, 2, ...
# tasks at once, each task given the machine's cores over the tasks. Prints one line per way:
# seconds, files per minute, frames per second, and whether its catalogue equals the local one.
# Every way's time runs from its start to its catalogue written.
#   throughput.sh SERFLASH [FILES] [FRAMES] [WIDTHxHEIGHT]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=local_slurm.sh
source "$here/local_slurm.sh"
export SERFLASH=$(realpath "$1")
files=${2:-8} frames=${3:-600} size=${4:-320x240}
work=$(mktemp -d)
pids=()
trap stop_and_clean_up EXIT
cd "$work"
cores=$(nproc)
mkdir night
for k in $(seq "$files"); do
  "$SERFLASH" synth "night/n$k.ser" --width "${size%x*}" --height "${size#*x}" --frames "$frames" --seed "$k" \
    --times --flash "$((k * 7 % 100 + 40)),60,$((k * 37 % frames))" >/dev/null
done
ls "$work"/night/*.ser >files.txt
all_frames=$((files * frames))
report() { # way seconds catalogue
  local same=no
  cmp -s local.csv "$3" && same=yes
  awk -v w="$1" -v s="$2" -v f="$files" -v n="$all_frames" -v same="$same" \
    'BEGIN { printf "%-34s %7.1f s %7.1f files/min %8.0f frames/s  catalogue as local: %s\n", w, s, f * 60 / s, n / s, same }'
}
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

echo "throughput: $files files of $frames frames of $size, $cores cores"
t=$(date +%s.%N)
mkdir local_out
"$SERFLASH" scan night/*.ser --dir local_out --progress none >/dev/null 2>&1 || true
"$SERFLASH" catalog local_out --out local.csv >/dev/null
s=$(elapsed "$t")
report "one local scan (all cores)" "$s" local.csv

for tasks in $(seq "$cores") $((2 * cores)); do
  threads=$((cores / tasks > 0 ? cores / tasks : 1))
  t=$(date +%s.%N)
  "$here/parallel_scan.sh" files.txt "par$tasks" --sshlogin : --tasks-per-host "$tasks" --threads "$threads" \
    >/dev/null 2>&1 || true
  report "GNU parallel, $tasks at once x $threads threads" "$(elapsed "$t")" "par$tasks/catalog.csv"
done

if command -v slurmctld >/dev/null && start_local_slurm "$work/slurm" >slurm_why.txt; then
  for tasks in $(seq "$cores"); do
    cpus=$((cores / tasks))
    t=$(date +%s.%N)
    "$here/slurm_submit.sh" files.txt "slurm$tasks" --cpus-per-task "$cpus" >submit.txt 2>&1
    job=$(sed -n 's/.*catalogue job \([0-9]*\).*/\1/p' submit.txt)
    wait_for_job "$job" "slurm$tasks/catalog.csv" 3600 || true
    report "Slurm array, $tasks at once x $cpus cpus" "$(elapsed "$t")" "slurm$tasks/catalog.csv"
  done
else
  echo "Slurm: not measured ($(cat slurm_why.txt 2>/dev/null || echo 'no Slurm programs'))"
fi
