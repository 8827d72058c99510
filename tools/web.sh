#!/usr/bin/env bash
# Builds the web page into build/web/: the core's WebAssembly module (CMake
# preset "web", Debian's emscripten), the page's TypeScript, its HTML, CSS,
# manifest, icons and service worker.
#   tools/web.sh          build
#   tools/web.sh serve    build, then serve build/web/ on http://127.0.0.1:8071/
# Any static host serves build/web/ as it is (over HTTPS: the service worker
# needs a secure origin; 127.0.0.1 and localhost count as one).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/setup.sh
# Debian's emscripten runs its JavaScript tools on the machine's Node, which
# finds Debian's Node packages (acorn) only through NODE_PATH. Its system
# libraries come prebuilt with the package.
export NODE_PATH=/usr/share/nodejs
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1

out=build/web
start=$SECONDS
cmake --preset web >/dev/null
cmake --build --preset web -j"$(nproc)"
echo "web: module built in $((SECONDS - start)) s"

# The npm tools of the lockfile, installed again only when it changes.
lock=$(sha256sum package-lock.json | cut -c1-64)
if [ "$(cat node_modules/.sq71-lock 2>/dev/null)" != "$lock" ]; then
  npm ci --no-audit --no-fund
  echo "$lock" > node_modules/.sq71-lock
fi

rm -rf "$out" build/web-sw
mkdir -p "$out/icons"
node_modules/.bin/tsc -p web/tsconfig.json
node_modules/.bin/tsc -p web/tsconfig.sw.json
cp web/index.html web/style.css web/manifest.webmanifest "$out/"
cp build/web-module/web/sq71.js build/web-module/web/sq71.wasm "$out/"
for size in 16 32 48 64 128 192 256 512; do
  convert resources/sq71_icon.png -resize "${size}x${size}" -depth 8 "$out/icons/icon-$size.png"
done

# The service worker keeps every file of this build under the build's name.
files=$(cd "$out" && find . -type f | sed 's|^\./||' | sort)
build=sq71-$(cd "$out" && cat $files | sha256sum | cut -c1-16)
list=$(printf '%s\n' "./" $files | sed 's/.*/"&"/' | paste -sd, -)
sed -e "s|@BUILD@|$build|" -e "s|@FILES@|[$list]|" build/web-sw/sw.js > "$out/sw.js"
echo "web: page built in $out ($build)"

if [ "${1:-}" = serve ]; then
  echo "web: serving on http://127.0.0.1:8071/ (Ctrl-C stops)"
  exec python3 -m http.server 8071 --bind 127.0.0.1 --directory "$out"
fi
