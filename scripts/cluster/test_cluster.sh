#!/usr/bin/env bash
# Runs the cluster scripts on this machine with tiny files: GNU parallel with --sshlogin : (this
# machine), and the Slurm job array under a one-node Slurm started here (slurmctld and slurmd on
# localhost) when it starts within a minute; each catalogue must equal a plain local scan's.
#   test_cluster.sh SERFLASH
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export SERFLASH=$(realpath "$1")
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
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
  local node conf=$work/slurm/slurm.conf
  node=$(hostname -s)
  mkdir -p "$work/slurm/state" "$work/slurm/spool"
  cat >"$conf" <<CONF
ClusterName=serflashtest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/none
CredType=cred/none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/slurm/state
SlurmdSpoolDir=$work/slurm/spool
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurm/slurmctld.log
SlurmdLogFile=$work/slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$conf
  slurmctld -D -c -f "$conf" >"$work/slurm/ctld.out" 2>&1 &
  pids+=($!)
  slurmd -D -f "$conf" >"$work/slurm/d.out" 2>&1 &
  pids+=($!)
  local t
  for t in $(seq 60); do
    sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)' && break
    sleep 1
  done
  sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)' || {
    echo "Slurm did not start within a minute ($(tail -n 2 "$work/slurm/slurmd.log" "$work/slurm/ctld.out" 2>/dev/null | tr '\n' ' '))"
    return 1
  }
  "$here/slurm_submit.sh" files.txt slurm --cpus-per-task 1 >submit.txt 2>&1 || fail "slurm_submit.sh: $(cat submit.txt)"
  local job
  job=$(sed -n 's/.*catalogue job \([0-9]*\).*/\1/p' submit.txt)
  for t in $(seq 180); do
    [ -s slurm/catalog.csv ] && ! squeue -h -j "$job" 2>/dev/null | grep -q . && break
    sleep 1
  done
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
