#!/usr/bin/env bash
# Installs what is missing, then runs every test:
#  1. Qt 6 build with AddressSanitizer + UndefinedBehaviorSanitizer: unit tests.
#  2. Qt 5 build: unit tests; the libFuzzer targets for a bounded time; the remote, engine and
#     playback tests under ThreadSanitizer.
#  3. Each real OBS host (scripts/hosts/, docs/hosts.md): the load/unload check, then the
#     end-to-end suite; the hosts' figures side by side at the end.
#  4. Each host's packages (.deb and tarball): CPack, lintian, then installed into a throwaway
#     copy of that host's Debian and loaded by its OBS.
# LUMARK_HOSTS picks the hosts (default "obs29 obs30 obs32"; "" runs none), LUMARK_PACKAGES the
# hosts whose packages are made and tested (default: the same).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-2}
hosts=${LUMARK_HOSTS-obs29 obs30 obs32}

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

section "Fuzz targets (ASan/UBSan) and ThreadSanitizer"
scripts/fuzz.sh # libFuzzer targets with ASan/UBSan, 15 s each
scripts/tsan.sh # remote, engine and playback tests under ThreadSanitizer

# Every host runs even when an earlier one failed; the run fails at the end then.
figures=$(mktemp -d "${TMPDIR:-/tmp}/lumark-figures-XXXXXX")
trap 'rm -rf "$figures"' EXIT
failed=()
summary=()
columns=()
for h in $hosts; do
	title=$(. "scripts/hosts/$h" && echo "$HOST_TITLE")
	short=$(. "scripts/hosts/$h" && echo "$HOST_SHORT")
	section "$title: load check and end-to-end suite"
	t0=$(date +%s)
	check=pass
	scripts/host.sh "$h" check || check=FAIL
	t1=$(date +%s)
	e2e=pass
	LUMARK_E2E_REPORT=$figures/$h scripts/host.sh "$h" e2e || e2e=FAIL
	t2=$(date +%s)
	[ "$check$e2e" = passpass ] || failed+=("$h")
	summary+=("$(printf '  %-8s check %-4s %4d s (with prepare and build)   e2e %-4s %4d s' "$h" "$check" $((t1 - t0)) "$e2e" $((t2 - t1)))")
	columns+=("$short=$figures/$h")
done

# Packages of each host, made and tested apart from the hosts' own runs.
for h in ${LUMARK_PACKAGES-$hosts}; do
	section "Packages for $h: build, lintian, install, load, remove"
	t0=$(date +%s)
	pkg=pass
	scripts/package.sh "$h" || pkg=FAIL
	[ "$pkg" = pass ] || failed+=("$h-packages")
	summary+=("$(printf '  %-8s packages %-4s %4d s' "$h" "$pkg" $(($(date +%s) - t0)))")
done

if [ ${#summary[@]} -gt 0 ]; then
	section "Hosts side by side"
	[ ${#columns[@]} -eq 0 ] || node scripts/lib/figures.mjs "${columns[@]}"
	echo
	printf '%s\n' "${summary[@]}"
fi
if [ ${#failed[@]} -gt 0 ]; then
	echo "FAILED on: ${failed[*]}" >&2
	exit 1
fi
