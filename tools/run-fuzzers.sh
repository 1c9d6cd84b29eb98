#!/usr/bin/env bash
# run-fuzzers.sh BUILD_DIR: a short run of every fuzz target (FUZZ_SECONDS each, 60 unless
# told), on corpora seeded from tests/pages, whois, rdap, watching and fuzz/seeds. Prints each target's
# run count; a finding stops the script with the crashing input kept in BUILD_DIR/fuzz/.
set -euo pipefail
build=$1
seconds=${FUZZ_SECONDS:-60}
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$build/fuzz"
for target in fuzz_cut fuzz_page fuzz_whois_answer fuzz_rdap fuzz_watch_answer; do
    corpus=corpus-$target
    mkdir -p "$corpus"
    cp -n "$here"/tests/pages/* "$here"/tests/whois/* "$here"/tests/rdap/* "$here"/tests/watching/* \
        "$here"/tests/fuzz/seeds/* "$corpus"/ 2>/dev/null || true
    echo "== $target: $seconds s"
    if ! ./$target -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
            -artifact_prefix="$PWD/$target-" "$corpus" > "$target.log" 2>&1; then
        tail -40 "$target.log"
        echo "$target found a fault; input kept as $PWD/$target-*" >&2
        exit 1
    fi
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$target.log" | tail -2
done
