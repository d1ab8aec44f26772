#!/usr/bin/env bash
#SBATCH --job-name=serflash-catalog
#SBATCH --output=serflash-catalog-%j.log
# The catalogue of everything the scan tasks wrote into OUT: OUT/catalog.csv, .json and .html.
set -euo pipefail
out=$1
exec "${SERFLASH:-serflash}" catalog "$out" --out "$out/catalog.csv" --out "$out/catalog.json" \
  --out "$out/catalog.html"
