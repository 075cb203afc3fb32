#!/usr/bin/env bash
# ThreadSanitizer run of the unit tests that cross threads: the remote side (obs-websocket's request
# threads, the event pool, the add-mark procedure), the engine with its session writer, the players.
# Usage: scripts/tsan.sh [extra gtest filter, e.g. 'RemoteVendor.*']
# Reports from uninstrumented Qt and libobs internals are named in tests/tsan.supp; any report from
# our own code fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${LUMARK_TSAN_BUILD_DIR:-$root/build-tsan}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
printf "\n==== ThreadSanitizer: remote, engine and playback tests ====\n"
# The suites of the "tsan" test preset (CMakePresets.json), as a gtest filter.
suites=$(sed -n 's/^ *"name": "^(\(.*\))\\\\."$/\1/p' CMakePresets.json)
[[ -n $suites ]] || { echo "tsan: no suite list in CMakePresets.json's tsan test preset" >&2; exit 1; }
filter=${1:-${suites//|/.*:}.*}

cmake --preset tsan -B "$build" >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target lumark-tests
# LUMARK_BUILD_ONLY=1 compiles ahead of the run (CI does it beside the end-to-end suites).
[[ ${LUMARK_BUILD_ONLY:-0} != 1 ]] || exit 0

log="$build/tsan.log"
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp ignore_noninstrumented_modules=1 report_signal_unsafe=0 second_deadlock_stack=1 log_path=$log"
rm -f "$log".*
set +e
xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" env QT_QPA_PLATFORM=offscreen \
	"$build/tests/lumark-tests" --gtest_filter="$filter" --gtest_brief=1
rc=$?
set -e
reports=$(cat "$log".* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
if [[ $reports -gt 0 ]]; then
	cat "$log".*
	echo "tsan: $reports report(s) outside the suppressions" >&2
	exit 1
fi
echo "tsan: no reports (tests exit status $rc)"
exit $rc
