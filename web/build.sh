#!/usr/bin/env bash
# Builds dist/zorv-viewer.html: the WebAssembly modules (build-wasm.sh),
# then the page with its worker and modules in one file (build.mjs).
set -euo pipefail
cd "$(dirname "$0")"
[ -d node_modules ] && [ node_modules -nt package-lock.json ] || npm ci --no-audit --no-fund
bash build-wasm.sh
node build.mjs ../dist/zorv-viewer.html
