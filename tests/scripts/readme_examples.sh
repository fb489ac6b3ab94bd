#!/usr/bin/env bash
# The README's shell sessions are what the tool prints.  Every fenced block
# of README.md with a line `$ orvik ...` is a session: its `$ ` lines run in
# order, in one scratch folder shared by all sessions (a fresh home and XDG
# folders, NO_COLOR, the published sample key in the trust folder, `samples`
# the source tree's, `song.raw` a file of 100000 bytes), standard output and
# error together, standard input not a terminal; the lines after a command
# up to the next `$ ` are what it must print, line for line.  Two marks stand for text that differs from run
# to run (key ids, paths of the scratch folder): `…` inside a line stands
# for any text, a line that is only `…` (indented or not) for any number of
# lines.  A block that cannot run here (a server left in the background, a
# real player) has `<!-- readme-check: skip: WHY -->` on the line before it,
# and is named as skipped.  ORVIK_README_SHOW=1 prints what every command
# printed, to bring the README up to date.
set -uo pipefail
export LC_ALL=C.UTF-8
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
readme=$source_dir/README.md
orvik=$build_dir/tools/orvik
[ -x "$orvik" ] || { echo "the tool is not built"; exit 1; }
command -v mdir >/dev/null || { echo "mtools is missing (scripts/lib/packages.sh installs it)"; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvik-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
work=$scratch/work
mkdir -p "$scratch/bin" "$work" "$scratch/home/.config/orvik/keys"
ln -s "$orvik" "$scratch/bin/orvik"
ln -s "$source_dir/samples" "$work/samples"
cp "$source_dir/samples/keys/sample-test.pub" "$scratch/home/.config/orvik/keys/"
# The song the sessions copy onto the player: any bytes do.
head -c 100000 /dev/zero | tr '\0' 'a' >"$work/song.raw"

export PATH=$scratch/bin:$PATH HOME=$scratch/home NO_COLOR=1
export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state
export XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
unset ORVIK_PLAYER ORVIK_DEVICE_DIR ORVIK_REGISTRY ORVIK_JOURNAL ORVIK_DEBUG CLICOLOR_FORCE

failures=0
sessions=0
commands=0
fail() {
  failures=$((failures + 1))
  printf '%s\n' "$@"
}

# A README line as a bash pattern: literal text, `…` for any text.  Every
# character that means something in a pattern (extended ones included, as
# [[ ]] takes them) is escaped.
pattern_of() {
  local p=$1 c
  p=${p//\\/\\\\}
  for c in '*' '?' '[' '(' ')' '|' '+' '@' '!'; do p=${p//"$c"/\\$c}; done
  printf '%s' "${p//…/*}"
}

# Compares what a command printed with the README's lines after it.
#   $1 README line of the command, $2 the command; expected[], printed[]
compare() {
  local at=$1 command=$2 e=0 p=0 line want
  local n_expected=${#expected[@]} n_printed=${#printed[@]}
  while [ "$e" -lt "$n_expected" ]; do
    want=${expected[$e]}
    if [[ $want =~ ^[[:space:]]*…$ ]]; then
      # Any lines, up to the first that the next expected line matches.
      e=$((e + 1))
      [ "$e" -eq "$n_expected" ] && return 0
      local next
      next=$(pattern_of "${expected[$e]}")
      # shellcheck disable=SC2053  # the right side is a pattern on purpose
      while [ "$p" -lt "$n_printed" ] && [[ ${printed[$p]} != $next ]]; do p=$((p + 1)); done
      if [ "$p" -eq "$n_printed" ]; then
        fail "README.md:$((at + 1 + e)): \$ $command" "  expected: ${expected[$e]}" \
          "  printed:  no line like it after the lines \`…\` stands for"
        return
      fi
      continue
    fi
    line=$((at + 1 + e))
    if [ "$p" -ge "$n_printed" ]; then
      fail "README.md:$line: \$ $command" "  expected: $want" "  printed:  (nothing more)"
      return
    fi
    # shellcheck disable=SC2053  # the right side is a pattern on purpose
    if [[ ${printed[$p]} != $(pattern_of "$want") ]]; then
      fail "README.md:$line: \$ $command" "  expected: $want" "  printed:  ${printed[$p]}"
      return
    fi
    e=$((e + 1))
    p=$((p + 1))
  done
  if [ "$p" -lt "$n_printed" ]; then
    fail "README.md:$((at + n_expected + 1)): \$ $command" "  expected: (nothing more)" \
      "  printed:  ${printed[$p]}"
  fi
}

# Runs one session: the block's lines in block[], the README line of the
# first in block_start.
last_status=0
run_session() {
  local i=0 n=${#block[@]} command at output
  sessions=$((sessions + 1))
  while [ "$i" -lt "$n" ]; do
    if [[ ${block[$i]} != '$ '* ]]; then
      fail "README.md:$((block_start + i)): output before any command: ${block[$i]}"
      i=$((i + 1))
      continue
    fi
    command=${block[$i]#'$ '}
    at=$((block_start + i))
    expected=()
    i=$((i + 1))
    while [ "$i" -lt "$n" ] && [[ ${block[$i]} != '$ '* ]]; do
      expected+=("${block[$i]}")
      i=$((i + 1))
    done
    commands=$((commands + 1))
    if [[ $command =~ '&'[[:space:]]*$ ]]; then
      fail "README.md:$at: \$ $command" "  runs in the background: mark the block skipped"
      continue
    fi
    # `$?` in a session is the status of the command before it.  No command
    # of the README takes long; one that waits for input or a signal is cut.
    # shellcheck disable=SC2016  # the inner shell expands $1 and $2
    output=$(cd "$work" && timeout 60 bash -c '(exit "$1"); eval "$2"' session "$last_status" \
      "$command" </dev/null 2>&1)
    last_status=$?
    [ "$last_status" -eq 124 ] && fail "README.md:$at: \$ $command" "  did not end within 60 s"
    printed=()
    [ -n "$output" ] && mapfile -t printed <<<"$output"
    [ -n "${ORVIK_README_SHOW:-}" ] && printf '$ %s\n%s\n' "$command" "$output"
    compare "$at" "$command"
  done
}

skip_reason=""
in_block=0
block=()
block_start=0
number=0
previous=""
while IFS= read -r text || [ -n "$text" ]; do
  number=$((number + 1))
  if [ "$in_block" -eq 0 ]; then
    if [[ $text == '```'* ]]; then
      in_block=1
      block=()
      block_start=$((number + 1))
      skip_reason=""
      if [[ $previous =~ ^'<!-- readme-check: skip: '(.*)' -->'$ ]]; then
        skip_reason=${BASH_REMATCH[1]}
      elif [[ $previous == '<!-- readme-check'* ]]; then
        fail "README.md:$((number - 1)): not a mark this check knows: $previous"
      fi
    fi
    previous=$text
    continue
  fi
  if [[ $text != '```' ]]; then
    block+=("$text")
    continue
  fi
  in_block=0
  previous=$text
  is_session=0
  for line in "${block[@]}"; do [[ $line == '$ orvik '* ]] && is_session=1; done
  if [ -n "$skip_reason" ]; then
    [ "$is_session" -eq 1 ] ||
      fail "README.md:$((block_start - 2)): the skip mark stands before a block that is no session"
    echo "skipped: the session at README.md:$block_start ($skip_reason)"
  elif [ "$is_session" -eq 1 ]; then
    run_session
  fi
done <"$readme"
[ "$in_block" -eq 0 ] || fail "README.md: the block from line $((block_start - 1)) is never closed"

[ "$sessions" -gt 0 ] || fail "README.md holds no session (\`\$ orvik ...\` in a fenced block)"
echo "$sessions sessions, $commands commands run; $failures differences"
[ "$failures" -eq 0 ]
