#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer build (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-test/ and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh install
werror=OFF
[ -n "${CI:-}" ] && werror=ON
scripts/setup.sh build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOMARK_SANITIZE=ON \
    -DVELOMARK_WERROR="$werror"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
cd build-test
ctest --output-on-failure -j "$(nproc)" "$@"
