#!/bin/bash
# Installs the npm packages the tests start as peers (node-media-server), exactly as
# pinned by tests/peers/package-lock.json, into DIR/node_modules; does nothing when that
# lock is installed there already. Exits 77 when npm is not installed.
#
#   tools/install-test-peers.sh DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?folder}
command -v npm >/dev/null 2>&1 || { echo "SKIP: npm is not installed"; exit 77; }
mkdir -p "$dir"
if cmp -s "$root/tests/peers/package-lock.json" "$dir/installed-lock.json" && [ -d "$dir/node_modules" ]; then
  exit 0
fi
cp "$root/tests/peers/package.json" "$root/tests/peers/package-lock.json" "$dir/"
npm ci --prefix "$dir" --no-audit --no-fund --loglevel=error
cp "$root/tests/peers/package-lock.json" "$dir/installed-lock.json"
