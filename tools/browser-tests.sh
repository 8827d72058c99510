#!/usr/bin/env bash
# The browser tests: each tests/browser/*.test.mjs run by Node.js against
# Debian's Chromium through playwright-core (tests/browser/harness.mjs). The
# npm tools are installed first from the committed package-lock.json (npm ci,
# only when node_modules is not already that lockfile's); Playwright never
# downloads a browser of its own.
#   tools/browser-tests.sh [SQ71 [WORK_DIR [NAME]]]   NAME: one test, e.g. report
#   tools/browser-tests.sh --update-docs              also copies the sample report's
#                                                     first page to docs/report.png
# Each test is run as: node tests/browser/NAME.test.mjs SQ71 DATA_DIR WORK_DIR/NAME
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
update_docs=0
if [ "${1:-}" = "--update-docs" ]; then
  update_docs=1
  shift
fi
sq71=$(realpath "${1:-$root/build/native/cli/sq71}")
work=$(realpath -m "${2:-$root/build/native/browser-tests}")
only="${3:-}"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1

# One install at a time when ctest runs several of these at once.
(
  flock 9
  cd "$root"
  # node_modules/.installed-lock: the lockfile the folder was installed from.
  if ! cmp -s package-lock.json node_modules/.installed-lock 2>/dev/null; then
    npm ci --no-audit --no-fund --loglevel=error
    cp package-lock.json node_modules/.installed-lock
  fi
) 9>"${TMPDIR:-/tmp}/sq71-npm-ci-$(id -u).lock"

status=0
for test in "$root"/tests/browser/*.test.mjs; do
  name=$(basename "$test" .test.mjs)
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  echo "browser test: $name"
  node "$test" "$sq71" "$root/data" "$work/$name" || status=1
done
if [ $update_docs -eq 1 ] && [ $status -eq 0 ]; then
  cp "$work/report/report-first-page.png" "$root/docs/report.png"
  echo "docs/report.png: the first page of data/sample.ulg's report"
fi
exit $status
