#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
install_missing "${DEPS[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=Release
exec ./build/domain-whois
