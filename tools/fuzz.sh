#!/usr/bin/env bash
# Builds the fuzz tree (clang, libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each fuzz target for SECONDS (default 60), one after the
# other, from its seeds in tests/fuzz/corpus/<target>/. What a run finds goes
# to build/fuzz/corpus/<target>/ (the seeds in the tree stay as they are), a
# crashing input to build/fuzz/crashes/. A target's <target>.options file may
# add libFuzzer flags (lines starting with "-") and seed folders (other lines).
#   tools/fuzz.sh [SECONDS] [TARGET...]
# Prints the executions each target reached; exits non-zero if any failed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-60}"
[ $# -gt 0 ] && shift
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

bin=build/fuzz/tests/fuzz
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
mkdir -p build/fuzz/logs build/fuzz/crashes
# Targets that go through files write them to memory where there is some.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

status=0
for t in "${targets[@]}"; do
  flags=()
  seeds=("tests/fuzz/corpus/$t")
  if [ -f "tests/fuzz/$t.options" ]; then
    while IFS= read -r line; do
      case "$line" in
        -*) flags+=("$line") ;;
        "") ;;
        *) seeds+=("$line") ;;
      esac
    done <"tests/fuzz/$t.options"
  fi
  work="build/fuzz/corpus/$t"
  log="build/fuzz/logs/$t.log"
  mkdir -p "$work"
  if "$bin/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build/fuzz/crashes/$t-" "${flags[@]}" "$work" "${seeds[@]}" \
      </dev/null >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  printf '%-20s %s  %12s executions in %s s\n' "$t" "$result" "${execs:-?}" "$seconds"
  if [ "$result" = FAILED ]; then tail -n 40 "$log"; fi
done
exit "$status"
