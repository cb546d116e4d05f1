#!/usr/bin/env bash
# Every host tool answers --help and -h with its usage on standard output and 0, and a wrong command
# line with the same usage on standard error and 2, writing nothing: a script can tell the two apart,
# and a newcomer who guesses at an option learns the right one.
# Arguments: the tools, each a program or <interpreter>:<script>.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# command line | exit code | where the usage goes
cases=(
  "--help|0|out"
  "-h|0|out"
  "|2|err"
  "--no-such-option|2|err"
  "-h extra|2|err"
)

for tool in "$@"; do
  if [[ $tool == *:* ]]; then run=("${tool%%:*}" "${tool#*:}"); else run=("$tool"); fi
  name=$(basename "${tool#*:}")
  usage=""
  for row in "${cases[@]}"; do
    IFS='|' read -r args want stream <<<"$row"
    rm -rf "$work/cwd" && mkdir "$work/cwd"
    # shellcheck disable=SC2086  # the command line is split into its words on purpose
    (cd "$work/cwd" && "${run[@]}" $args >"$work/out" 2>"$work/err")
    got=$?
    other=$([ "$stream" = out ] && echo err || echo out)
    what="$name ${args:-(no arguments)}"
    [ "$got" -eq "$want" ] || fail "$what: exit code $got, expected $want"
    grep -qi "usage" "$work/$stream" || fail "$what: no usage on std$stream"
    [ -s "$work/$other" ] && fail "$what: std$other is not empty: $(head -c 200 "$work/$other")"
    [ -z "$(ls -A "$work/cwd")" ] || fail "$what: left $(ls -A "$work/cwd")"
    text=$(cat "$work/$stream")
    if [ -z "$usage" ]; then
      usage=$text
    elif [ "$text" != "$usage" ]; then
      fail "$what: the usage differs from the one --help prints"
    fi
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "usage of $# tools: all checks passed"
