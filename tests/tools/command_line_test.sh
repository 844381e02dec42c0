#!/usr/bin/env bash
# The tools as Unix tools: exit status 0/1/2, data on standard output, errors in words on standard error,
# --help and --version, checked numbers, --opt=value and --.
#   command_line_test.sh TOOLS_DIR   (the folder of the built tools)
set -uo pipefail
tools=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0 cases=0

# expect STATUS STDOUT_REGEX STDERR_REGEX COMMAND...: an empty regex means the stream must be empty.
expect() {
  local status=$1 out_re=$2 err_re=$3
  shift 3
  cases=$((cases + 1))
  "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
  local got=$? problem=""
  [ "$got" -eq "$status" ] || problem="exit status $got, not $status"
  if [ -z "$out_re" ]; then [ ! -s "$tmp/out" ] || problem+=" output not empty"
  else grep -Eq -- "$out_re" "$tmp/out" || problem+=" output lacks /$out_re/"; fi
  if [ -z "$err_re" ]; then [ ! -s "$tmp/err" ] || problem+=" error output not empty"
  else grep -Eq -- "$err_re" "$tmp/err" || problem+=" error output lacks /$err_re/"; fi
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "FAILED: $* :$problem" >&2
    sed 's/^/  stdout: /' "$tmp/out" | head -n 5 >&2
    sed 's/^/  stderr: /' "$tmp/err" | head -n 5 >&2
  fi
}

info=$tools/kvdinfo synth=$tools/kvdsynth
sample=$tmp/-sample.kvd
printf 'not a recording at all\n' >"$tmp/text.kvd"

for tool in "$info" "$synth"; do
  expect 0 '^usage: ' '' "$tool" --help
  expect 0 '\(nsKVDLibrary\) [0-9]+\.[0-9]+' '' "$tool" --version
  expect 2 '' "unrecognized option '--no-such-option'" "$tool" --no-such-option
  expect 2 '' "option '-x'" "$tool" -x
done

# kvdsynth: numbers are checked, files named in errors; --opt=value and -- work.
expect 0 '' '' "$synth" --seconds=0.5 -- "$sample"
[ -s "$sample" ] || { echo "FAILED: kvdsynth wrote no $sample" >&2; failures=$((failures + 1)); }
expect 0 '^[0-9]+$' '' "$synth" --samples 60 0 3
expect 2 '' 'channel.*999' "$synth" --samples 999 0 3
expect 2 '' 'channel.*-1' "$synth" --samples -- -1 0 3
expect 2 '' 'FIRST.*x' "$synth" --samples 5 x 3
expect 2 '' 'COUNT' "$synth" --samples 5 0 3.5
expect 2 '' 'COUNT' "$synth" --samples 5 18446744073709551615 2
expect 2 '' 'three numbers' "$synth" --samples 5 0
for seconds in 0 -1 abc 1e300 nan ''; do
  expect 2 '' "seconds" "$synth" --seconds "$seconds" "$tmp/out.kvd"
done
expect 2 '' 'one OUTPUT' "$synth"
expect 2 '' "option '--seconds' needs a value" "$synth" "$tmp/a.kvd" --seconds
expect 2 '' 'one OUTPUT' "$synth" "$tmp/a.kvd" "$tmp/b.kvd"
expect 1 '' "$tmp/no/such/folder/x.kvd.*No such file or directory" "$synth" "$tmp/no/such/folder/x.kvd"

# kvdinfo: the host and the reader view; failures name the file and the reason in words.
expect 0 '^entities +[0-9]+' '' "$info" -- "$sample"
expect 0 'entity 3 ' '' "$info" --entity=3 "$sample"
expect 0 '^stream 0: ' '' "$info" --reader "$sample"
expect 1 '' "$tmp/missing.kvd.*No such file or directory" "$info" "$tmp/missing.kvd"
expect 1 '' "$tmp/missing.kvd.*No such file or directory" "$info" --reader "$tmp/missing.kvd"
expect 1 '' "$tmp/text.kvd is not a recording" "$info" "$tmp/text.kvd"
expect 1 '' "$tmp/text.kvd.*not a recording" "$info" --reader "$tmp/text.kvd"
expect 1 '' "cannot open $tmp/: Is a directory" "$info" "$tmp/"
expect 1 '' 'entity 99999 does not exist' "$info" --entity 99999 "$sample"
expect 1 '' 'cannot load .*/no/such/library.so' "$info" --lib "$tmp/no/such/library.so" "$sample"
for entity in -1 x 1.5 4294967296 ''; do
  expect 2 '' "entity" "$info" --entity "$entity" "$sample"
done
expect 2 '' 'one FILE' "$info" "$sample" "$sample"
expect 2 '' "--events takes a count" "$info" --reader --events=x "$sample"
expect 2 '' "go with --reader or --json" "$info" --frames 2 "$sample"
expect 0 '^stream 0: ' '' "$info" --reader --events=1 --frames=1 "$sample"

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
