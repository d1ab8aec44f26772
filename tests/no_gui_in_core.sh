#!/usr/bin/env bash
# The engine and the toolkit-free front-end model must build without any windowing toolkit.
src=$1
hits=$(grep -rnE '#\s*include\s*[<"](Q[A-Za-z]*|qt|gtk|X11|windows\.h)' \
        --include='*.h' --include='*.cpp' "$src" | grep -v "^$src/ui/qt/" || true)
if [ -n "$hits" ]; then
  echo "toolkit headers outside src/ui/qt:"; echo "$hits"; exit 1
fi
echo "core is toolkit-free"
