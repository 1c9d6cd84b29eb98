#!/usr/bin/env bash
# Installs what is missing, builds, starts the whois service unless something already answers
# on its port, and starts the program. A service started here stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
install_missing "${DEPS[@]}"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The service runs here only when the program was built against a loopback address.
site=$(sed -n 's/^DOMAIN_WHOIS_SITE:STRING=//p' build/CMakeCache.txt)
if [[ $site =~ ^http://(127\.0\.0\.1|localhost)(:([0-9]+))?$ ]]; then
    port=${BASH_REMATCH[3]:-80}
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "Starting the whois service on 127.0.0.1:$port (log: build/service.log)"
        ./build/domain-whois-service --listen "127.0.0.1:$port" 2>>build/service.log &
        service=$!
        trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null || true' EXIT
        for _ in $(seq 50); do
            (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
            kill -0 "$service" 2>/dev/null || { echo "The service did not start; see build/service.log" >&2; exit 1; }
            sleep 0.1
        done
    else
        echo "A whois service already answers on 127.0.0.1:$port; using it"
    fi
fi
./build/domain-whois
