#!/usr/bin/env bash
#SBATCH --job-name=serflash-scan
#SBATCH --output=serflash-scan-%A_%a.log
# One array task per SER file of a list (one path a line): task k scans line k into OUT with
# the cores Slurm gave it. Submitted by slurm_submit.sh, which runs the catalogue after it.
#   sbatch --array=1-N --cpus-per-task=C slurm_scan.sbatch LIST OUT [scan options...]
set -euo pipefail
list=$1 out=$2
shift 2
file=$(sed -n "${SLURM_ARRAY_TASK_ID}p" "$list")
[ -n "$file" ] || { echo "line ${SLURM_ARRAY_TASK_ID} of $list is empty" >&2; exit 1; }
exec "${SERFLASH_CLUSTER:?}/scan_task.sh" "$file" "$out" "${SLURM_CPUS_PER_TASK:-1}" "$@"
