#!/usr/bin/env bash
# Makes a manual page from a program's own --help and --version (help2man), with a COMMANDS
# section made from the --help of each subcommand its help lists, so that the text has one
# home: the program.
# make_man.sh PROGRAM OUT.1 "one-line description"
set -euo pipefail
program=$1 out=$2 description=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=$(basename "$program")
# Run by its bare name so that the usage lines say "serflash", not the build path.
mkdir "$work/bin"
ln -s "$(realpath "$program")" "$work/bin/$name"
export PATH="$work/bin:$PATH"

# One subcommand's help as man text: option lines ("  --name VALUE   what it does") become
# tagged paragraphs, headings bold, the rest plain paragraphs.
to_roff() {
  awk '
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); if (s ~ /^[.\x27]/) s = "\\&" s; return s }
    /^Usage: / { print ".PP"; print "\\fB" esc(substr($0, 8)) "\\fR"; next }
    /^[A-Z][^:]*:$/ { print ".PP"; print "\\fI" esc($0) "\\fR"; next }
    /^  [^ ]/ {
      line = substr($0, 3)
      if (match(line, /  +[^ ]/)) {
        print ".TP"; print "\\fB" esc(substr(line, 1, RSTART - 1)) "\\fR"; print esc(substr(line, RSTART + RLENGTH - 1))
      } else { print ".TP"; print "\\fB" esc(line) "\\fR"; pending = 1 }
      next
    }
    /^   +[^ ]/ { sub(/^ +/, ""); print esc($0); next }
    /^$/ { next }
    { print ".PP"; print esc($0) }
  '
}

mapfile -t commands < <("$name" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } on && /^$/ { on = 0 }')
{
  if [ ${#commands[@]} -gt 0 ]; then
    echo "[COMMANDS]"
    for sub in "${commands[@]}"; do
      echo ".SS \"$name $sub\""
      "$name" "$sub" --help | to_roff
    done
  fi
} >"$work/include.h2m"

include=()
[ -s "$work/include.h2m" ] && include=(--include="$work/include.h2m")
help2man --no-info --no-discard-stderr --name="$description" "${include[@]}" --output="$out" "$name"
