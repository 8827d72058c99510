#!/usr/bin/env bash
# Builds the packages into build/packages/: from the win tree the zip and the
# NSIS installer of sq71log.exe and sq71.exe, from the native tree the Debian
# package of sq71. Only the programs they carry are built.
#
# --check then installs and checks each of them:
#   .deb       its files and dependencies, installed into a throwaway root
#              with dpkg, sq71 run from there, removed again; lintian
#   zip        exactly the programs and documents, nothing else
#   installer  run silently under Wine in a fresh prefix: files, Start-menu
#              shortcut, uninstall entry, sq71log.exe started from there
#              (message 8, exit code 0), then the uninstaller
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
check=0
case "${1:-}" in
  --check) check=1 ;;
  --installer-check) ;;  # the installer check alone, inside xvfb-run (below)
  "") ;;
  *) echo "usage: tools/package.sh [--check]" >&2; exit 2 ;;
esac
jobs=$(nproc)
root=$PWD
out=$root/build/packages
version=$(sed -n 's/^project(sq71log VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

step() { printf '\n== %s\n' "$*"; }
fail() { echo "package check: $*" >&2; exit 1; }

build_packages() {
  rm -rf "$out"
  mkdir -p "$out"
  step "packages: native"
  cmake --preset native >/dev/null
  cmake --build --preset native -j"$jobs" --target sq71 sq71_manpage sq71_deb_docs sq71_completion
  (cd build/native && cpack -B "$out/.cpack/native" >/dev/null)
  step "packages: win"
  cmake --preset win >/dev/null
  local targets=(sq71log sq71)
  if [ $check = 1 ]; then targets+=(check_installed_start); fi
  cmake --build --preset win -j"$jobs" --target "${targets[@]}"
  (cd build/win && cpack -B "$out/.cpack/win" >/dev/null)
  mv "$out"/.cpack/*/*.{deb,zip,exe,sha256} "$out"/
  rm -rf "$out/.cpack"
  step "packages in build/packages"
  ls -l "$out"
}

# Runs a command every 0.2 s until it succeeds; fails after a minute.
wait_for() {
  local i
  for ((i = 0; i < 300; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
not() { ! "$@"; }

# Sorted file names (not folders) of a listing, leading "./" dropped.
files_of() { grep -v '/$' | sed 's|^\./||' | sort; }

check_deb() {
  local deb
  deb=$(echo "$out"/sq71_*.deb)
  step "check: $(basename "$deb")"

  local expected_files="usr/bin/sq71
usr/share/bash-completion/completions/sq71
usr/share/zsh/vendor-completions/_sq71
usr/share/doc/sq71/README.md.gz
usr/share/doc/sq71/changelog.Debian.gz
usr/share/doc/sq71/copyright
usr/share/man/man1/sq71.1.gz"
  [ -f packaging/udev/60-sq71-meter.rules ] &&
    expected_files+=$'\n'"usr/lib/udev/rules.d/60-sq71-meter.rules"
  diff <(echo "$expected_files" | sort) <(dpkg-deb --fsys-tarfile "$deb" | tar -t | files_of) ||
    fail "the .deb holds other files than these: $expected_files"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "package version is not $version-1"

  # Every library the program loads must be named by a dependency.
  local depends names lib pkg
  depends=$(dpkg-deb -f "$deb" Depends)
  names=$(tr ',|' '\n' <<<"$depends" | awk '{print $1}')
  # Only the host's own library folder counts: a 32-bit libc6-i386 also holds
  # a libm.so.6, which the program never loads.
  local multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  for lib in $(objdump -p build/native/cli/sq71 | awk '$1 == "NEEDED" {print $2}'); do
    pkg=$(dpkg -S "*/$multiarch/$lib" 2>/dev/null | head -1 | sed 's/[:,].*//')
    [ -n "$pkg" ] || fail "no installed package holds $lib"
    grep -qxF "$pkg" <<<"$names" || fail "Depends ($depends) lacks $pkg, which holds $lib"
  done

  local dest="$out/.check/debroot"
  rm -rf "$dest"
  mkdir -p "$dest/var/lib/dpkg/info" "$dest/var/lib/dpkg/updates"
  touch "$dest/var/lib/dpkg/status"
  # dpkg gives the files to root: without being root, fakeroot pretends.
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(fakeroot)
  # The throwaway root has no packages at all: dependencies were checked above.
  "${as_root[@]}" dpkg --root="$dest" --force-depends --force-not-root -i "$deb" >"$out/.check/dpkg-i.log" 2>&1 ||
    { cat "$out/.check/dpkg-i.log"; fail "dpkg -i failed"; }
  [ "$("$dest/usr/bin/sq71" --version)" = "sq71 $version" ] || fail "sq71 --version is wrong"
  "$dest/usr/bin/sq71" view data/sample.ulg | cmp -s - data/sample.view.txt ||
    fail "installed sq71 view data/sample.ulg differs from data/sample.view.txt"
  zcat "$dest/usr/share/man/man1/sq71.1.gz" | grep -q '^\.SS view' ||
    fail "the manual page does not describe the view command"
  bash -c "source '$dest/usr/share/bash-completion/completions/sq71' && complete -p sq71" >/dev/null ||
    fail "the bash completion does not load"
  "${as_root[@]}" dpkg --root="$dest" --force-not-root -r sq71 >"$out/.check/dpkg-r.log" 2>&1 ||
    { cat "$out/.check/dpkg-r.log"; fail "dpkg -r failed"; }
  local left
  left=$(cd "$dest" && find . -mindepth 1 -not -path './var' -not -path './var/lib' \
    -not -path './var/lib/dpkg' -not -path './var/lib/dpkg/*')
  [ -z "$left" ] || fail "dpkg -r left behind: $left"
  rm -rf "$dest"
  echo "installed into a throwaway root, ran, removed without a trace"

  # Its warnings are shown, not failed on. The package is not uploaded to
  # Debian, so there is no bug to close for a first upload.
  local report status=0
  report=$(lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb" 2>&1) ||
    status=$?
  grep -v 'running with root privileges' <<<"$report" || true
  [ $status = 0 ] || fail "lintian reports errors"
  echo "lintian: no errors"
}

check_zip() {
  local zip
  zip=$(echo "$out"/sq71log-*-win64.zip)
  step "check: $(basename "$zip")"
  local top=sq71log-$version-win64
  diff <(printf '%s\n' "$top/LICENSE.txt" "$top/README.txt" "$top/sq71.exe" "$top/sq71log.exe" | sort) \
    <(unzip -Z1 "$zip" | files_of) || fail "the zip holds other files than the programs and documents"
  unzip -p "$zip" "$top/README.txt" | grep -q $'\r$' || fail "README.txt lacks CR LF line ends"
  echo "the zip holds sq71log.exe, sq71.exe, README.txt and LICENSE.txt"
}

# Runs under Xvfb when there is no display (the program shows a box).
check_installer() {
  local installer
  installer=$(echo "$out"/sq71log-*-win64-setup.exe)
  step "check: $(basename "$installer") under Wine"
  export WINEPREFIX="$out/.check/wineprefix" WINEDEBUG=-all
  rm -rf "$WINEPREFIX"
  tools/wine-prefix.sh "$WINEPREFIX"
  # No desktop menu entries for the host: winemenubuilder stays off.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # One server for every step, its services detached from our output.
  wineserver -p </dev/null >/dev/null 2>&1
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

  wine "$installer" /S </dev/null >/dev/null 2>&1 || fail "the installer failed"
  local dir="$WINEPREFIX/drive_c/Program Files/SQ-71 Meter - Log"
  local win_dir='C:\Program Files\SQ-71 Meter - Log'
  local shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/SQ-71 Meter - Log.lnk"
  local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SQ-71 Meter - Log'
  diff <(printf '%s\n' LICENSE.txt README.txt Uninstall.exe sq71.exe sq71log.exe) \
    <(cd "$dir" && find . -type f | sed 's|^\./||' | sort) ||
    fail "the installed folder holds other files than expected"
  [ -f "$shortcut" ] || fail "no Start-menu shortcut"
  grep -aq 'sq71log\.exe' "$shortcut" || fail "the shortcut does not lead to sq71log.exe"
  local entry
  entry=$(wine reg query "$key" 2>/dev/null | tr -d '\r')
  grep -q "DisplayName.*REG_SZ.*SQ-71 Meter - Log$" <<<"$entry" || fail "no uninstall entry"
  grep -q "DisplayVersion.*REG_SZ.*$version$" <<<"$entry" || fail "uninstall entry without version"
  grep -qF "\"$win_dir\\Uninstall.exe\"" <<<"$entry" || fail "uninstall entry without uninstaller"
  echo "installed: programs, documents, uninstaller, shortcut, uninstall entry"
  # .ulg opens in the program: its ProgID, icon and "open" verb.
  [ "$(wine reg query 'HKCR\.ulg' /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')" = \
    SQ71Log.ulg ] || fail ".ulg is not registered to the program"
  wine reg query 'HKCR\SQ71Log.ulg\DefaultIcon' /ve 2>/dev/null | tr -d '\r' |
    grep -qF "$win_dir\sq71log.exe,0" || fail "the .ulg type has not the program's icon"
  wine reg query 'HKCR\SQ71Log.ulg\shell\open\command' /ve 2>/dev/null | tr -d '\r' |
    grep -qF "\"$win_dir\sq71log.exe\" \"%1\"" || fail "the .ulg type has no open verb"
  echo "installed: .ulg opens in sq71log.exe"
  for file in "$installer" "$dir/sq71log.exe" "$dir/sq71.exe"; do
    for text in "the SQ-71 Meter - Log developers" "Copyright (c) 2026 the SQ-71 Meter - Log developers" "$version"; do
      strings -n 3 -el "$file" | grep -qxF "$text" || fail "$(basename "$file"): no \"$text\" in its version resource"
    done
  done
  echo "version resources: company, copyright and version in the installer and both programs"

  [ "$(wine "$win_dir\\sq71.exe" --version 2>/dev/null | tr -d '\r')" = "sq71 $version" ] ||
    fail "installed sq71.exe --version is wrong"
  wine build/win/e2e/check_installed_start.exe "$win_dir\\sq71log.exe" ||
    fail "installed sq71log.exe did not start as it should without the driver"
  echo "installed sq71log.exe shows message 8 and exits 0; sq71.exe --version answers"

  # The uninstaller copies itself away and runs from there: wait for what
  # it does, the uninstall entry going last.
  wine "$dir/Uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
  wait_for test ! -e "$dir" || fail "the uninstaller left $(ls "$dir")"
  wait_for not wine reg query "$key" || fail "the uninstaller left the uninstall entry"
  [ ! -e "$shortcut" ] || fail "the uninstaller left the shortcut"
  ! wine reg query 'HKCR\SQ71Log.ulg' >/dev/null 2>&1 || fail "the uninstaller left the .ulg type"
  ! wine reg query 'HKCR\.ulg' >/dev/null 2>&1 || fail "the uninstaller left .ulg registered"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
  echo "uninstalled: folder, shortcut, entry and .ulg registration gone"
}

if [ "${1:-}" = --installer-check ]; then
  check_installer
  exit 0
fi

tools/setup.sh
start=$SECONDS
build_packages
echo "packages built: $((SECONDS - start)) s"
[ $check = 1 ] || exit 0

start=$SECONDS
mkdir -p "$out/.check"
check_deb
check_zip
if [ -n "${DISPLAY:-}" ]; then
  check_installer
else
  # xvfb-run runs a command, not a function: this script again, for the
  # installer check alone.
  xvfb-run -a -s "-screen 0 1024x768x24" "$0" --installer-check
fi
rm -rf "$out/.check"
echo "package checks: $((SECONDS - start)) s"
