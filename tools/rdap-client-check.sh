#!/usr/bin/env bash
# Asks the service's RDAP endpoint through a real RDAP client from the npm registry (node-rdap),
# the service running on the tests' fake registries: a port-43-only TLD, an RDAP TLD, a free name.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
install_missing "${DEPS[@]}"
command -v node >/dev/null && command -v npm >/dev/null || install_missing nodejs npm
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target serve-fakes
(cd tools/rdap-client && npm install --no-audit --no-fund --silent)
coproc SERVICE { exec ./build/serve-fakes 8099 2>/dev/null; }
trap 'kill "$SERVICE_PID" 2>/dev/null || true' EXIT
read -r _ <&"${SERVICE[0]}" # listening
node tools/rdap-client/check.mjs
