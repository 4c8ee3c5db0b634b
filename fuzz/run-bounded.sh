#!/bin/sh
# Runs every libFuzzer harness of a fuzz build for a bounded time, as part of
# the tests: first each checked-in regression input once, then the mutation
# run from the checked-in corpus. Any crash, sanitizer report, leak, input
# slower than a second or memory beyond the limit fails the run.
#
#   fuzz/run-bounded.sh BUILD_DIR [SECONDS_PER_HARNESS]
#
# The corpus is copied to a temporary folder first, so that what the run
# finds never lands in the checked-in folders; a failing input is kept in
# BUILD_DIR/fuzz-artifacts/ for replay.
set -u
build=${1:?usage: fuzz/run-bounded.sh BUILD_DIR [SECONDS_PER_HARNESS]}
seconds=${2:-40}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
limits="-rss_limit_mb=2048 -malloc_limit_mb=2048 -error_exitcode=77 -timeout_exitcode=78"

failed=""
for harness in "$build"/fuzz/fuzz_*; do
  [ -x "$harness" ] || continue
  name=$(basename "$harness")
  dict=""
  case $name in fuzz_compiler|fuzz_contract) dict="-dict=$here/mml.dict" ;; esac
  # A session step runs a fresh copy of a song of up to 26 channels, and a
  # device thread fills beside it; the Game Boy's stream is worked out for
  # up to ten minutes of music (where channels' loops share none sooner) and
  # made into files of megabytes: allow them more than a second.
  timeout="-timeout=1"
  case $name in fuzz_play_session|fuzz_gameboy) timeout="-timeout=5" ;; esac

  set -- "$here/regressions/$name"/*
  if [ -f "$1" ]; then
    # Named files (not a folder) are run once each and nothing is written.
    # shellcheck disable=SC2086
    if ! "$harness" $limits $timeout "$@" > "$work/$name.replay.log" 2>&1; then
      tail -n 40 "$work/$name.replay.log"
      echo "$name: a regression input fails"
      failed="$failed $name"
      continue
    fi
  fi

  mkdir -p "$work/$name"
  [ -d "$here/corpus/$name" ] && cp "$here/corpus/$name"/* "$work/$name/" 2>/dev/null
  # shellcheck disable=SC2086
  "$harness" $limits $timeout $dict -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$work/$name" > "$work/$name.log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$name.log" | tail -n 1)
  if [ $status -ne 0 ]; then
    tail -n 40 "$work/$name.log"
    echo "$name: FAILED (exit $status); the input is in $artifacts/"
    failed="$failed $name"
  else
    echo "$name: ${runs:-?} runs in ${seconds} s, $cov"
  fi
done
if [ -n "$failed" ]; then
  echo "fuzzing failed:$failed"
  exit 1
fi
