#!/usr/bin/env bash
# Fuzzes the ZIP extraction for a given number of seconds (default 60) with libFuzzer, built
# with clang, AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/, seeded with the
# shared ZIP corpus. One job at a time (-fork=1) so that a crash is recorded and the run goes
# on. At the end it prints executions, crashes (sanitizer findings) and escapes (inputs after
# which the target saw a broken rule: something outside the destination, a link or special
# file inside it, the byte budget passed, a leaked descriptor, the locale not restored).
#
# Findings stay in fuzz/findings/ (not committed): corpus/ grows across runs, and each run
# gets run-<time>/ with its log and artifacts. Reproduce one with:
#   build-fuzz/fuzz_extract_zip fuzz/findings/run-<time>/artifacts/crash-<hash>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
corpora=${OLVEX_CORPORA:-../shared/corpora}/zips
build=build-fuzz

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null

run=fuzz/findings/run-$(date +%Y%m%d-%H%M%S)
mkdir -p "$run/artifacts" fuzz/findings/corpus
# The target extracts into this folder; tmpfs keeps the per-file flush cheap.
work=$(mktemp -d "${OLVEX_FUZZ_TMP:-/dev/shm}/olvex-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "fuzzing for ${seconds} s, log in $run/"
set +e
OLVEX_FUZZ_WORK="$work" "$build/fuzz_extract_zip" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -max_len=65536 -timeout=60 -rss_limit_mb=2048 -dict=fuzz/zip.dict \
  -artifact_prefix="$run/artifacts/" fuzz/findings/corpus "$corpora" "$corpora/generated" >"$run/fuzz.log" 2>&1
status=$?
set -e

# In fork mode the parent prints "#<executions>: cov: ... oom/timeout/crash: a/b/c ..." lines.
last=$(grep -E '^#[0-9]+: cov:' "$run/fuzz.log" | tail -1 || true)
executions=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
crashes=0
escapes=0
timeouts=0
shopt -s nullglob
for artifact in "$run"/artifacts/*; do
  case "$(basename "$artifact")" in
    crash-*)
      if OLVEX_FUZZ_WORK="$work" "$build/fuzz_extract_zip" "$artifact" 2>&1 | grep -q '^ESCAPE:'; then
        escapes=$((escapes + 1))
      else
        crashes=$((crashes + 1))
      fi
      ;;
    timeout-* | slow-unit-* | oom-*) timeouts=$((timeouts + 1)) ;;
  esac
done

echo "executions: ${executions:-0}"
echo "crashes: $crashes"
echo "escapes: $escapes"
echo "timeouts/ooms: $timeouts"
echo "last status: ${last:-none}"
echo "libFuzzer exit: $status"
[ "$crashes" -eq 0 ] && [ "$escapes" -eq 0 ]
