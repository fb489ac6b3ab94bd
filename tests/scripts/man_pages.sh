#!/usr/bin/env bash
# The manual pages: every command the tool registers (`orvik
# --list-commands`) has its page, orvik.1 and the library's orvik.3 are
# there, each renders with groff without a warning, and orvik.3 has an entry
# for every function the public headers declare.
set -euo pipefail
export LC_ALL=C.UTF-8
build_dir=$1
source_dir=$2
orvik=$build_dir/tools/orvik
man_dir=$build_dir/man
status=0
fail() { echo "$*"; status=1; }

[ -x "$orvik" ] || { echo "the tool is not built"; exit 1; }
command -v groff >/dev/null || { echo "groff is missing (scripts/lib/packages.sh installs it)"; exit 1; }

pages=("$man_dir/orvik.1.gz" "$man_dir/orvik.3.gz")
commands=0
while IFS=$'\t' read -r path _; do
  commands=$((commands + 1))
  pages+=("$man_dir/commands/orvik-${path// /-}.1.gz")
done < <("$orvik" --list-commands)
[ "$commands" -gt 0 ] || fail "orvik --list-commands listed no command"

for page in "${pages[@]}"; do
  if [ ! -f "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  zcat "$page" | grep -q '^\.SH NAME' || fail "$(basename "$page") has no NAME section"
done

# Every function of orvik.h and orvik/posix.h, as the page's entries name them.
library_page=$source_dir/docs/man/orvik.3
while read -r name; do
  grep -qE "^\.B \".*[ *]$name\(" "$library_page" || fail "orvik.3 has no entry for $name"
done < <(grep -ohE 'ORVIK_CALL \*?[A-Za-z0-9_]+\(' "$source_dir/include/orvik/orvik.h" \
  "$source_dir/include/orvik/posix.h" | sed -E 's/ORVIK_CALL \*?//; s/\($//' | sort -u)

[ $status -eq 0 ] && echo "${#pages[@]} manual pages for $commands commands render cleanly"
exit $status
