#!/usr/bin/env bash
# Sets everything up, generates the built-in sample and scans it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERFLASH_SKIP_CHECK_BUILDS=1 "$root/scripts/setup.sh"
out="$root/demo"
mkdir -p "$out"
cd "$out"
# Results of an earlier demo would keep the new folder from taking its final name.
rm -rf Results_serflash_demo Results_serflash_demo_s*
"$root/build/src/cli/serflash" demo
