#!/usr/bin/env bash
# Installs what is missing, then runs every test:
#  1. Qt 6 build with AddressSanitizer + UndefinedBehaviorSanitizer: unit tests.
#  2. Qt 5 build (the one Debian 12's OBS 29 loads): unit tests, then the load/unload check and the
#     end-to-end suite in real headless OBS.
#  3. The Qt 6 build inside a cached Debian 13 chroot with OBS 30.2.3: the same end-to-end suite
#     and the scenarios of the newer host (LUMARK_SKIP_HOST2=1 skips it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-2}

scripts/install-deps.sh
export CCACHE_BASEDIR=$root

section() { printf '\n==== %s ====\n' "$*"; }

# libobs's hotkey layer needs an X display; one shared Xvfb serves every test process.
ctest_x() { xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" ctest "$@"; }

section "Qt 6 build with ASan/UBSan: unit tests"
cmake -S . -B build-qt6-asan -DLUMARK_QT_VERSION=6 -DLUMARK_TESTS=ON -DLUMARK_SANITIZE=ON >/dev/null
cmake --build build-qt6-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest_x --test-dir build-qt6-asan --output-on-failure -j"$jobs"

section "Qt 5 build: unit tests"
cmake -S . -B build-qt5 -DLUMARK_QT_VERSION=5 -DLUMARK_TESTS=ON >/dev/null
cmake --build build-qt5 -j"$jobs"
ctest_x --test-dir build-qt5 --output-on-failure -j"$jobs"

scripts/fuzz.sh # libFuzzer targets with ASan/UBSan, 15 s each
scripts/tsan.sh # remote, engine and playback tests under ThreadSanitizer

section "Real OBS 29 (Qt 5): load and unload"
scripts/obs-smoke.sh build-qt5

figures_host1=$(mktemp "${TMPDIR:-/tmp}/lumark-figures-XXXXXX")
trap 'rm -f "$figures_host1"' EXIT
section "Real OBS 29 (Qt 5): end-to-end suite"
LUMARK_E2E_REPORT=$figures_host1 scripts/e2e.sh build-qt5

# The second host: the Qt 6 build in OBS 30.2.3, the same suite plus the scenarios only that host
# can run; its figures are printed beside the first host's.
if [ "${LUMARK_SKIP_HOST2:-0}" != 1 ]; then
	section "Real OBS 30.2.3 (Qt 6, Debian 13 chroot): end-to-end suite"
	LUMARK_E2E_FIGURES_HOST1=$figures_host1 scripts/host2.sh e2e
fi
