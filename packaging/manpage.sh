#!/bin/sh
# Writes the manual page of sq71, gzip-compressed, from what the built tool
# says: help2man turns "sq71 --help" and "sq71 --version" into the page, and
# each command's own help ("sq71 help NAME") becomes a subsection of
# COMMANDS, so the page follows the help as commands are added. The file
# formats, exit status and SEE ALSO come from sq71-formats.h2m beside this.
# usage: manpage.sh SQ71 HELP2MAN OUTPUT.1.gz [UDEV_RULE_PATH]
set -eu
sq71=$1 help2man=$2 output=$3 udev_rule=${4:-}
work="$output.d"
rm -rf "$work"
mkdir -p "$work"

# roff text shown as written: backslashes escaped, and a line that starts
# with a dot or a quote kept from being read as a request.
escape() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

{
  echo "[COMMANDS]"
  "$sq71" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z0-9-]*\) .*/\1/p' |
    while read -r name; do
      [ "$name" = help ] && continue
      echo ".SS $name"
      echo ".nf"
      "$sq71" help "$name" | escape
      echo ".fi"
    done
  if [ -n "$udev_rule" ]; then
    echo "[FILES]"
    echo ".TP"
    echo ".I $udev_rule"
    echo "lets the user at the seat, and members of the plugdev group, open the meter"
    echo "without root."
  fi
  cat "$(dirname "$0")/sq71-formats.h2m"
} >"$work/include.h2m"

"$help2man" --no-info --section=1 --name="download, view, export and report the logs of the SQ-71 Meter" \
  --include="$work/include.h2m" --output="$work/sq71.1" "$sq71"
gzip -9n -c "$work/sq71.1" >"$output"
rm -rf "$work"
