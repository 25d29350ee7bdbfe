#!/usr/bin/env bash
# Installs what is missing, builds the optimised build in build/ and starts Velomark.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh install
scripts/setup.sh build build -DCMAKE_BUILD_TYPE=Release
if [ -x build/bin/velomark ]; then
    exec build/bin/velomark "$@"
fi
echo "Built the imaging and platform libraries and the benchmarks (build/bin/bench-dib)."
echo "The desktop program, build/bin/velomark with the built-in test-chart source, is not"
echo "part of the tree yet; this script will start it once it is."
