#!/usr/bin/env bash
# Every C++ file must be as clang-format (with the project's .clang-format) writes it.
root=$1
cd "$root" || exit 1
if ! command -v clang-format >/dev/null; then
  echo "clang-format is not installed"; exit 1
fi
files=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' 2>/dev/null)
[ -n "$files" ] || files=$(find src tests tools -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run --Werror $files; then
  echo "run: clang-format -i \$(git ls-files '*.cpp' '*.h')"; exit 1
fi
echo "formatting is clean"
