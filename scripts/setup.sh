#!/usr/bin/env bash
# Shared by run.sh and test.sh: installs the Debian packages that are missing (and
# only those) and configures + builds one build tree.
#   setup.sh install            install what is missing
#   setup.sh install-fuzz       the same, plus clang and libFuzzer for ./fuzz.sh
#   setup.sh build DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          imagemagick libwxgtk3.2-dev xvfb xauth xdotool python3
          libsane1 sane-utils
          appstream desktop-file-utils dpkg-dev file
          libcairo2-dev libtiff-dev libpng-dev poppler-utils
          libfreeimage-dev
          libmicrohttpd-dev libxml2-dev libjpeg-dev libavahi-client-dev sane-airscan
          chromium chromium-driver python3-selenium)
# Only ./fuzz.sh needs these: the ordinary build and the replay of the corpora use g++.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"
    fi
}

build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

case "${1:-}" in
    install) install_missing "${PACKAGES[@]}" ;;
    install-fuzz) install_missing "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" ;;
    build) shift; build "$@" ;;
    *) echo "usage: $0 install | install-fuzz | build DIR [cmake options]" >&2; exit 2 ;;
esac
