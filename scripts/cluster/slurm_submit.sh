#!/usr/bin/env bash
# Submits the scan of every SER file of LIST (one path a line) as a Slurm job array, one task
# per file into the shared folder OUT, and the catalogue as a job that waits for all of them.
#   slurm_submit.sh LIST OUT [--cpus-per-task C] [--sbatch "extra sbatch options"] [-- scan options...]
# Prints the two job ids. SERFLASH names the serflash program (default: serflash on the PATH).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
list=$(realpath "$1") out=$(realpath -m "$2")
shift 2
cpus=2 extra=()
while [ $# -gt 0 ]; do
  case $1 in
    --cpus-per-task) cpus=$2; shift 2 ;;
    --sbatch) read -r -a extra <<<"$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "slurm_submit.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
n=$(grep -c . "$list" || true)
[ "$n" -gt 0 ] || { echo "slurm_submit.sh: $list lists no file" >&2; exit 2; }
mkdir -p "$out"
export SERFLASH_CLUSTER=$here
scan=$(sbatch --parsable --export=ALL --array=1-"$n" --cpus-per-task="$cpus" --chdir="$out" "${extra[@]}" \
  "$here/slurm_scan.sbatch" "$list" "$out" "$@")
scan=${scan%%;*}
catalog=$(sbatch --parsable --export=ALL --dependency=afterany:"$scan" --chdir="$out" "${extra[@]}" \
  "$here/slurm_catalog.sbatch" "$out")
echo "scan job $scan ($n tasks), catalogue job ${catalog%%;*}"
