#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite headless under Xvfb.
#   ./test.sh             the suite
#   ./test.sh --sanitize  the suite built with AddressSanitizer and UBSan, in build-sanitize/, and
#                         the service's suites built with ThreadSanitizer, in build-tsan/
#   ./test.sh --fuzz      also a short run of every fuzz target, in build-fuzz/
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh

sanitize=0
fuzz=0
for arg in "$@"; do
    case $arg in
        --sanitize) sanitize=1 ;;
        --fuzz) fuzz=1 ;;
        *) echo "usage: $0 [--sanitize] [--fuzz]" >&2; exit 2 ;;
    esac
done

packages=("${DEPS[@]}")
[ $fuzz -eq 1 ] && packages+=(clang libclang-rt-dev)
install_missing "${packages[@]}"

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ $sanitize -eq 1 ]; then
    dir=build-sanitize
    flags+=(-DDOMAIN_WHOIS_SANITIZE=ON -DDOMAIN_WHOIS_BENCH=OFF)
    export ASAN_OPTIONS=abort_on_error=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
configure_and_build "$dir" "${flags[@]}"

if [ $fuzz -eq 1 ]; then
    CC=clang CXX=clang++ configure_and_build build-fuzz -DDOMAIN_WHOIS_FUZZ=ON \
        -DDOMAIN_WHOIS_TESTS=OFF -DDOMAIN_WHOIS_BENCH=OFF
    tools/run-fuzzers.sh build-fuzz
fi

# One X server for the whole suite; the window tests need it, the rest run offscreen.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    ctest --test-dir "$dir" --output-on-failure --timeout 300

if [ $sanitize -eq 1 ]; then
    # The service's threads (HTTP, workers, the transfer loop, the timers) under
    # ThreadSanitizer: its suites alone, as the window's need none of it.
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOMAIN_WHOIS_TSAN=ON \
        -DDOMAIN_WHOIS_BENCH=OFF >/dev/null
    suites=$(sed -n 's/^whois_test(\(test_service[a-z_]*\|test_lookup\) .*/\1/p' tests/CMakeLists.txt)
    # shellcheck disable=SC2086
    cmake --build build-tsan --parallel --target $suites
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
        ctest --test-dir build-tsan --output-on-failure --timeout 600 -R '^test_(service|lookup)'
fi
