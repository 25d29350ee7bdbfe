#!/usr/bin/env bash
# Installs what is missing, builds the optimised build in build/ and starts Velomark
# with the built-in test-chart source as the default source.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh install
scripts/setup.sh build build -DCMAKE_BUILD_TYPE=Release -DVELOMARK_TESTS=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (DISPLAY is not set). Start it from a desktop session, or" >&2
    echo "under a virtual one: xvfb-run -a ./run.sh" >&2
    exit 1
fi
# Until the user has chosen a source in File > Select Source..., the test chart is
# the default, whatever scanners SANE finds.
config_home="${XDG_CONFIG_HOME:-$HOME/.config}"
if [ -z "${VELOMARK_DEFAULT_SOURCE:-}" ] && [ ! -s "$config_home/velomark/dsm.conf" ]; then
    export VELOMARK_DEFAULT_SOURCE="Velomark Test Chart"
fi
exec build/bin/velomark "$@"
