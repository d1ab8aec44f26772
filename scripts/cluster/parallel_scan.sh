#!/usr/bin/env bash
# Scans every SER file of LIST (one path a line) with GNU parallel over ssh hosts, one task per
# file into the shared folder OUT, then writes the catalogue OUT/catalog.csv, .json and .html.
#   parallel_scan.sh LIST OUT [--sshlogin LOGINS] [--tasks-per-host K] [--threads T] [-- scan options...]
# LOGINS is GNU parallel's (":" is this machine; "4/host1,4/host2" runs 4 tasks on each);
# every host needs serflash and this folder at the same paths and OUT on a shared file system.
# T is the cores of each task (default: the host's cores over K).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
list=$(realpath "$1") out=$(realpath -m "$2")
shift 2
logins=: per_host=1 threads=
while [ $# -gt 0 ]; do
  case $1 in
    --sshlogin) logins=$2; shift 2 ;;
    --tasks-per-host) per_host=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "parallel_scan.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
# Each host works out its own share of cores unless --threads says.
task="$(printf '%q' "$here/scan_task.sh") {} $(printf '%q' "$out") ${threads:-\$(( \$(nproc) / $per_host > 0 ? \$(nproc) / $per_host : 1 ))}"
for option in "$@"; do task+=" $(printf '%q' "$option")"; done
status=0
parallel --will-cite --sshlogin "$logins" --jobs "$per_host" --arg-file "$list" --joblog "$out/parallel.log" \
  --env SERFLASH "$task" || status=$?
"${SERFLASH:-serflash}" catalog "$out" --out "$out/catalog.csv" --out "$out/catalog.json" --out "$out/catalog.html"
exit $status
