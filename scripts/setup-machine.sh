#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (idempotent),
# and the browser test's npm packages.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ pkg-config
  libsqlite3-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  libboost-dev libcpp-httplib-dev nlohmann-json3-dev libssl-dev
  g++-mingw-w64-x86-64-posix wine64
  xvfb xdotool x11-utils libxtst-dev imagemagick fonts-wine fonts-liberation
  nsis
  chromium
)
# A machine may bring its own Node.js (with npm inside); Debian's otherwise.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# puppeteer-core for tests/browser, exactly as its lock file says; again
# only when the lock file changed since the last install.
browser=tests/browser
if [ ! -f "$browser/node_modules/.package-lock.json" ] ||
   ! cmp -s "$browser/package-lock.json" "$browser/node_modules/.installed-lock.json"; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$browser/package-lock.json" "$browser/node_modules/.installed-lock.json"
fi
