#!/usr/bin/env bash
# Runs the cluster scripts on this machine with tiny files: GNU parallel with --sshlogin : (this
# machine), and the Slurm job array under a one-node Slurm started here (slurmctld and slurmd on
# localhost) when it starts within a minute; each catalogue must equal a plain local scan's.
#   test_cluster.sh SERFLASH
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=local_slurm.sh
source "$here/local_slurm.sh"
export SERFLASH=$(realpath "$1")
work=$(mktemp -d)
pids=()
trap stop_and_clean_up EXIT
fail() { echo "cluster test: FAIL: $*"; exit 1; }
passed=0 skipped=0
cd "$work"

small=(--width 64 --height 48 --frames 80 --stars 0 --hot-pixels 0 --no-bright-region --no-dark-region --times)
mkdir night
for k in 1 2 3 4; do "$SERFLASH" synth "night/m$k.ser" "${small[@]}" --seed $k --flash 30,20,$((k * 15)) >/dev/null; done
ls "$work"/night/*.ser >files.txt
mkdir plain
"$SERFLASH" scan night/*.ser --dir plain --progress none >/dev/null 2>&1 || fail "plain scan"
"$SERFLASH" catalog plain --out plain.csv >/dev/null 2>&1 || fail "catalogue of the plain scan"

timeout 300 "$here/parallel_scan.sh" files.txt par --sshlogin : --tasks-per-host 2 >par.txt 2>&1 ||
  fail "parallel_scan.sh: $(tail -5 par.txt)"
cmp -s plain.csv par/catalog.csv || { diff plain.csv par/catalog.csv | head; fail "GNU parallel's catalogue differs"; }
echo "cluster test: GNU parallel over --sshlogin : gives the plain scan's catalogue"
passed=$((passed + 1))

slurm_test() {
  command -v slurmctld >/dev/null && command -v slurmd >/dev/null && command -v sbatch >/dev/null || {
    echo "no Slurm programs"
    return 1
  }
  start_local_slurm "$work/slurm" || return 1
  "$here/slurm_submit.sh" files.txt slurm --cpus-per-task 1 >submit.txt 2>&1 || fail "slurm_submit.sh: $(cat submit.txt)"
  local job
  job=$(sed -n 's/.*catalogue job \([0-9]*\).*/\1/p' submit.txt)
  wait_for_job "$job" slurm/catalog.csv 180 || true
  [ -s slurm/catalog.csv ] || fail "the Slurm catalogue job wrote no catalogue: $(cat slurm/*.log 2>/dev/null | tail -5)"
  cmp -s plain.csv slurm/catalog.csv || { diff plain.csv slurm/catalog.csv | head; fail "Slurm's catalogue differs"; }
  return 0
}

if slurm_test >slurm_why.txt; then
  echo "cluster test: the Slurm job array and its catalogue job give the plain scan's catalogue"
  passed=$((passed + 1))
else
  echo "cluster test: skipped the Slurm test: $(cat slurm_why.txt)"
  skipped=1
fi
echo "cluster: $passed passed, 0 failed, $skipped skipped"
