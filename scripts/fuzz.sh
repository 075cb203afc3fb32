#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer), replays the
# kept inputs of earlier findings, then fuzzes each target for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target]     (default 15; by hand: scripts/fuzz.sh 600)
#        scripts/fuzz.sh 300 vendor               (one target: probe, session_file, text, vendor)
# A crash leaves its input in build-fuzz/artifacts/; keep it in tests/fuzz/regressions/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-${LUMARK_FUZZ_SECONDS:-15}}
printf "\n==== libFuzzer targets with ASan/UBSan (%s s each) ====\n" "$seconds"
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(probe session_file text vendor)
build=${LUMARK_FUZZ_BUILD_DIR:-$root/build-fuzz}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}

cmake --preset fuzz -B "$build" >/dev/null
names=()
for t in "${targets[@]}"; do names+=("lumark-fuzz-${t//_/-}"); done
cmake --build "$build" -j"${JOBS:-2}" --target "${names[@]}"
# LUMARK_BUILD_ONLY=1 compiles ahead of the run (CI does it beside the end-to-end suites).
[[ ${LUMARK_BUILD_ONLY:-0} != 1 ]] || exit 0

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
rc=0
for t in "${targets[@]}"; do
	bin="$build/tests/fuzz/lumark-fuzz-${t//_/-}"
	corpus="$build/corpus/$t"
	mkdir -p "$corpus"
	seeds="$root/tests/fuzz/corpus/$t"
	regressions="$root/tests/fuzz/regressions/$t"
	printf '\n==== fuzz %s: %s s ====\n' "$t" "$seconds"
	run=("$bin")
	# libobs's hotkey layer needs an X display for the targets that start it.
	[[ $t == vendor ]] && run=(xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "$bin")
	if [[ -d $regressions ]] && compgen -G "$regressions/*" >/dev/null; then
		"${run[@]}" -runs=1 "$regressions"/* || rc=1
	fi
	dict=()
	[[ -f $root/tests/fuzz/$t.dict ]] && dict=(-dict="$root/tests/fuzz/$t.dict")
	log="$build/artifacts/$t.log"
	if "${run[@]}" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 \
		-artifact_prefix="$build/artifacts/$t-" "${dict[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
		grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|INFO: seed corpus' "$log" || true
	else
		tail -n 80 "$log"
		rc=1
	fi
done
exit $rc
