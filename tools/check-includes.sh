#!/usr/bin/env bash
# The include rule of the tree: every #include of a project file points down.
# Nothing outside app/ includes app/ (the Windows program is the top), nothing
# outside web/ includes web/ (the web page, another top), and the graph of
# folders that include one another has no loop, so each folder can be read,
# built and tested with only what lies below it. Tests may include
# what they test. Prints each offending include and exits 1 when any is found.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# The project's sources, tests and build trees left out; from git when this
# is a checkout, else from the folder.
sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -- '*.c' '*.cpp' '*.h' '*.hpp' '*.rc' ':!tests/'
  else
    find . -path ./build -prune -o -path ./tests -prune -o -type f \
      \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.rc' \) \
      -print | sed 's#^\./##'
  fi
}

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
status=0

while IFS= read -r file; do
  from=${file%%/*}
  while IFS=: read -r line target; do
    to=${target%%/*}
    [ "$to" = "$from" ] && continue
    [ -d "$to" ] || continue
    if [ "$to" = app ] || [ "$to" = web ]; then
      echo "$file:$line: includes $target: only $to/ includes $to/"
      status=1
    fi
    echo "$to $from" >>"$edges"
  done < <(grep -no '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' "$file" |
             sed -E 's/^([0-9]+):.*"([^"]*)"/\1:\2/')
done < <(sources)

# tsort names a loop on standard error when the folder graph has one.
loops=$(sort -u "$edges" | tsort 2>&1 >/dev/null || true)
if [ -n "$loops" ]; then
  echo "folders that include each other:"
  echo "$loops" | sed -n 's/^tsort: -: input contains a loop:/loop:/p; s/^tsort: /  /p'
  status=1
fi

[ $status -eq 0 ] && echo "includes: $(sort -u "$edges" | wc -l) folder links, all pointing down"
exit $status
