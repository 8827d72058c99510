#!/usr/bin/env bash
# Starts pairs of `sq71 export` at the same moment onto one CSV name, from two
# different logs, and counts the pairs that left a file which is neither
# log's CSV whole (mixed), or the CSV of a run that reported failure. Any
# temporary file left behind is counted too. Builds sq71 first.
#   tools/concurrent_export.sh [PAIRS]     (default 200)
# Exits non-zero when any pair went wrong.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
pairs="${1:-200}"
build="${SQ71_BUILD:-build/native}"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target sq71 >/dev/null
sq71="$PWD/$build/cli/sq71"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Two full logs (1024 entries each) that differ in every line's ID and name.
perl -e '
  for my $log ("a", "b") {
    open(my $out, ">:raw", "$log.ulg") or die "$log.ulg: $!";
    for my $i (0 .. 1023) {
      my $name = sprintf("%-16s", uc($log) . " SAT $i");
      print $out pack("C v v a16", $i % 4, $i, $log eq "a" ? 1 : 2, $name), "\0" x 43;
    }
    close($out) or die;
  }'
"$sq71" export a.ulg a.csv
"$sq71" export b.ulg b.csv
cmp -s a.csv b.csv && { echo "the two logs give the same CSV" >&2; exit 1; }

# Both runs wait for a start file, so that they get going at the same moment
# (logs are read only from regular files, so no pipe can hold them back).
mixed=0 from_failed=0 failed_runs=0
for ((i = 0; i < pairs; i++)); do
  rm -f go
  (while [ ! -e go ]; do :; done; exec "$sq71" export a.ulg out.csv 2>/dev/null) &
  pa=$!
  (while [ ! -e go ]; do :; done; exec "$sq71" export b.ulg out.csv 2>/dev/null) &
  pb=$!
  : > go
  ra=0 rb=0
  wait "$pa" || ra=$?
  wait "$pb" || rb=$?
  [ "$ra" -eq 0 ] || failed_runs=$((failed_runs + 1))
  [ "$rb" -eq 0 ] || failed_runs=$((failed_runs + 1))
  if cmp -s out.csv a.csv; then
    [ "$ra" -eq 0 ] || from_failed=$((from_failed + 1))
  elif cmp -s out.csv b.csv; then
    [ "$rb" -eq 0 ] || from_failed=$((from_failed + 1))
  else
    mixed=$((mixed + 1))
  fi
done
left=$(find . -maxdepth 1 -type f ! -name a.ulg ! -name b.ulg ! -name a.csv ! -name b.csv \
       ! -name out.csv ! -name go | wc -l)
echo "$pairs concurrent export pairs: $mixed mixed, $from_failed holding a failed run's CSV," \
     "$failed_runs runs reported failure, $left temporary files left"
[ "$mixed" -eq 0 ] && [ "$from_failed" -eq 0 ] && [ "$left" -eq 0 ]
