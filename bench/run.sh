#!/usr/bin/env bash
# Installs what the benchmarks need (wrk and nginx for the service's side-by-side figures),
# builds them in Release and runs each; the start-up one under its own X server.
#   bench/run.sh                 every benchmark
#   bench/run.sh bench_service   only those named
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
install_missing "${DEPS[@]}" wrk nginx-light
configure_and_build build-bench -DCMAKE_BUILD_TYPE=Release -DDOMAIN_WHOIS_TESTS=ON
benchmarks=("$@")
[ ${#benchmarks[@]} -eq 0 ] && benchmarks=(bench_postprocess bench_query bench_watchlist bench_whoistext bench_service bench_service_load bench_startup)
for name in "${benchmarks[@]}"; do
    echo "== $name"
    if [ "$name" = bench_startup ]; then
        xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "build-bench/bench/$name"
    else
        QT_QPA_PLATFORM=offscreen no_proxy='*' "build-bench/bench/$name" 2>/dev/null
    fi
done
