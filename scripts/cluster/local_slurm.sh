#!/usr/bin/env bash
# Sourced: start_local_slurm DIR starts a one-node Slurm on this machine (slurmctld and slurmd
# on localhost, state and logs under DIR), exports SLURM_CONF and adds the two daemons' ids to
# the array `pids`. It returns 1, saying why, when the node is not up within a minute.
start_local_slurm() {
  local dir=$1 node conf=$1/slurm.conf t
  node=$(hostname -s)
  mkdir -p "$dir/state" "$dir/spool"
  cat >"$conf" <<CONF
ClusterName=serflashlocal
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/none
CredType=cred/none
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
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
  slurmctld -D -c -f "$conf" >"$dir/ctld.out" 2>&1 &
  pids+=($!)
  slurmd -D -f "$conf" >"$dir/d.out" 2>&1 &
  pids+=($!)
  for t in $(seq 60); do
    sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)' && return 0
    sleep 1
  done
  echo "Slurm did not start within a minute ($(tail -n 2 "$dir/slurmd.log" "$dir/ctld.out" 2>/dev/null | tr '\n' ' '))"
  return 1
}

# Waits (at most SECONDS) until job JOB has left the queue and FILE is written.
wait_for_job() {
  local job=$1 file=$2 seconds=$3 t
  for t in $(seq "$seconds"); do
    [ -s "$file" ] && ! squeue -h -j "$job" 2>/dev/null | grep -q . && return 0
    sleep 1
  done
  return 1
}

# For a script's EXIT trap: kills the daemons in `pids` and removes the folder `work`.
stop_and_clean_up() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
