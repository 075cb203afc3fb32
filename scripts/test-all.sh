#!/usr/bin/env bash
# Installs what is missing, then runs every test:
#  0. The C and C++ code must be clang-format'ed (scripts/format.sh --check).
#  1. Qt 6 build with AddressSanitizer + UndefinedBehaviorSanitizer: unit tests.
#  2. Qt 5 build: unit tests.
#  3. Each real OBS host (scripts/hosts/, docs/hosts.md): the plug-in built against it (without
#     warnings), then the end-to-end suite; the hosts' figures side by side at the end. The chroots
#     are made in the background while the unit tests build, and the chroot hosts' plug-ins and the
#     machine's packages are compiled at the lowest priority while the first host's suite runs, and
#     so are the libFuzzer targets and the ThreadSanitizer tests, which run after the suites (the
#     fuzz targets for a bounded time; the remote, engine and playback tests under ThreadSanitizer).
#  4. Each host's packages (.deb and tarball): CPack, lintian, then installed into a throwaway
#     copy of that host's Debian and loaded by its OBS.
# LUMARK_HOSTS picks the hosts (default "obs29 obs30 obs32"; "" runs none), LUMARK_PACKAGES the
# hosts whose packages are made and tested (default: the same).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-2}
hosts=${LUMARK_HOSTS-obs29 obs30 obs32}
started=$(date +%s)

scripts/install-deps.sh
export CCACHE_BASEDIR=$root

section() { printf '\n==== %s ====\n' "$*"; }

# libobs's hotkey layer needs an X display; one shared Xvfb serves every test process.
ctest_x() { xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" ctest "$@"; }

section "clang-format check of src/, tests/ and bench/"
scripts/format.sh --check

# Making a chroot mostly waits for the network and the disk; let it overlap the builds below and
# the suites of the hosts before it. The package test's Debian 12 chroot likewise.
prepared=$(mktemp -d "${TMPDIR:-/tmp}/lumark-prepare-XXXXXX")
preparing=()
declare -A prepare_of
is_chroot() { grep -q '^HOST_ROOT=chroot' "scripts/hosts/$1"; }
for h in $hosts; do
	if is_chroot "$h"; then
		(scripts/host.sh "$h" prepare >"$prepared/$h.log" 2>&1; echo $? >"$prepared/$h.rc") &
		preparing+=($!)
		prepare_of[$h]=$!
	fi
done
if [[ " ${LUMARK_PACKAGES-$hosts} " == *" obs29 "* ]]; then
	scripts/package.sh obs29 prepare >"$prepared/package-obs29.log" 2>&1 &
	preparing+=($!)
fi
trap 'kill "${preparing[@]}" 2>/dev/null || true; wait; rm -rf "$prepared"' EXIT

# The builds are the presets of CMakePresets.json.
section "Qt 6 build with ASan/UBSan: unit tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest_x --preset asan -j"$jobs"

section "Qt 5 build: unit tests"
cmake --preset qt5-tests >/dev/null
cmake --build --preset qt5-tests -j"$jobs"
ctest_x --preset qt5-tests -j"$jobs"

# The benchmarks in the unit-test tree, which has their libraries already built.
bench_build() {
	cmake --preset qt5-tests -DLUMARK_BENCH=ON >/dev/null && cmake --build --preset qt5-tests -j"$jobs" --target lumark-bench
}

# The other hosts' plug-ins and the machine's packages are compile work, while a suite mostly waits
# on OBS in real time: they are built beside the first suite at the lowest priority. A host's own
# run then waits for its build's lock and finds it done; a failed build is made and told again there.
(
	for h in $hosts; do
		! is_chroot "$h" || nice -n 19 scripts/host.sh "$h" build
	done
	if [[ " ${LUMARK_PACKAGES-$hosts} " == *" obs29 "* ]]; then nice -n 19 scripts/package.sh obs29 build; fi
	# The fuzz targets and the ThreadSanitizer tests are built here too; they run after the suites.
	LUMARK_BUILD_ONLY=1 nice -n 19 scripts/fuzz.sh
	LUMARK_BUILD_ONLY=1 nice -n 19 scripts/tsan.sh
	bench_build
) >"$prepared/builds-ahead.log" 2>&1 &
building=$!
preparing+=($building)

# Every host runs even when an earlier one failed; the run fails at the end then.
figures=$prepared/figures
mkdir -p "$figures"
failed=()
summary=()
columns=()
for h in $hosts; do
	title=$(. "scripts/hosts/$h" && echo "$HOST_TITLE")
	short=$(. "scripts/hosts/$h" && echo "$HOST_SHORT")
	section "$title: build and end-to-end suite"
	[ -z "${prepare_of[$h]:-}" ] || wait "${prepare_of[$h]}" || true
	[ ! -f "$prepared/$h.log" ] || cat "$prepared/$h.log"
	t0=$(date +%s)
	result=pass
	LUMARK_E2E_REPORT=$figures/$h scripts/host.sh "$h" e2e || result=FAIL
	# Only a chroot made or refreshed by this run has a figure.
	secs=$(sed -n 's/.*chroot ready in \([0-9]*\) s.*/\1/p' "$prepared/$h.log" 2>/dev/null || true)
	[ -z "$secs" ] || printf '  chroot prepare                              %s\n' "$secs" >>"$figures/$h"

	[ "$result" = pass ] || failed+=("$h")
	summary+=("$(printf '  %-7s %-4s  %4d s (build and suite)' "$h" "$result" $(($(date +%s) - t0)))")
	columns+=("$short=$figures/$h")
done

wait "$building" || true
section "Fuzz targets (ASan/UBSan) and ThreadSanitizer"
scripts/fuzz.sh || failed+=(fuzz) # libFuzzer targets with ASan/UBSan, 15 s each
scripts/tsan.sh || failed+=(tsan) # remote, engine and playback tests under ThreadSanitizer
bench_build || failed+=(bench) # compiled only, so that the benchmarks keep up with the code

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
echo "  whole run: $(($(date +%s) - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
	echo "FAILED on: ${failed[*]}" >&2
	exit 1
fi
