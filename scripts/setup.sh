#!/usr/bin/env bash
# Installs what the build needs (Debian packages, as root) and builds everything.
# Quick when everything is already there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(g++ clang clang-format libclang-rt-14-dev cmake ninja-build pkg-config
          libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev libpng-dev libjpeg62-turbo-dev libxml2-dev liberfa-dev
          qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev
          xvfb xauth fonts-dejavu-core help2man dpkg-dev python3 parallel slurm-wlm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A compiler cache, where the machine has one, makes rebuilds of unchanged files free.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# The lunar albedo map that `serflash synth` paints the Moon with: one file taken out of Debian's
# stellarium-data package, which is not installed. Kept outside the source tree.
moon_map_dir=${SERFLASH_MOON_MAP_DIR:-/var/cache/serflash}
if [ ! -s "$moon_map_dir/moon_4k.jpg" ]; then
  if mkdir -p "$moon_map_dir" 2>/dev/null && [ -w "$moon_map_dir" ]; then
    tmp=$(mktemp -d) && chmod 755 "$tmp"
    if (cd "$tmp" && apt-get download -qq stellarium-data >/dev/null 2>&1); then
      dpkg-deb --fsys-tarfile "$tmp"/stellarium-data_*.deb |
        tar -x -C "$tmp" ./usr/share/stellarium/textures/moon_4k.jpg &&
        mv "$tmp/usr/share/stellarium/textures/moon_4k.jpg" "$moon_map_dir/moon_4k.jpg"
    fi
    rm -rf "$tmp"
  fi
  [ -s "$moon_map_dir/moon_4k.jpg" ] || echo "setup: no lunar albedo map; serflash synth draws a made-up surface"
fi

configure() {  # build-dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$root/$dir/build.ninja" ]; then
    cmake -S "$root" -B "$root/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  fi
}

jobs=$(nproc)
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSERFLASH_WERROR=ON
cmake --build "$root/build" -j "$jobs"

if [ "${SERFLASH_SKIP_CHECK_BUILDS:-0}" != 1 ]; then
  configure build-san -DCMAKE_BUILD_TYPE=Debug -DSERFLASH_WERROR=ON -DSERFLASH_SANITIZE=ON -DSERFLASH_BUILD_GUI=OFF
  cmake --build "$root/build-san" -j "$jobs"
  configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DSERFLASH_WERROR=ON \
            -DSERFLASH_FUZZ=ON -DSERFLASH_BUILD_GUI=OFF
  cmake --build "$root/build-fuzz" -j "$jobs" --target fuzzers
fi
