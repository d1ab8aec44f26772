#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, the package and the cluster scripts,
# the sanitizer build and a short fuzzing run of every fuzzer (the SER reader, the whole scan,
# the command line's options, match's inputs, the sensitivity measurement).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"
# The package and the installed programs, then the cluster scripts on this machine.
"$root/scripts/package_test.sh" "$root/build"
"$root/scripts/cluster/test_cluster.sh" "$root/build/src/cli/serflash"
ctest --test-dir "$root/build-san" --output-on-failure -j "$(nproc)"
# 15 s each keeps the fuzzing part of a CI run under two minutes.
"$root/scripts/fuzz.sh" 15
