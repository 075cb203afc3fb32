#!/usr/bin/env bash
# End-to-end suite in Debian's real OBS (Qt 5 build of the plug-in, OBS headless under xvfb-run).
# Needs: obs-studio xvfb xauth nginx-light libnginx-mod-rtmp ffmpeg nodejs npm qtbase5-dev libobs-dev.
# Usage: scripts/e2e.sh [build-dir] [node --test options, e.g. --test-name-pattern=recap]
# Env: LUMARK_E2E_TIMEOUT (seconds, default 900), LUMARK_E2E_KEEP=1 keeps the temporary OBS homes,
#      LUMARK_E2E_REPORT a file that receives the suite's figures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${LUMARK_E2E_BUILD_DIR:-$root/build-qt5}
if [[ $# -gt 0 && $1 != -* ]]; then
	build=$(cd "$1" 2>/dev/null && pwd || echo "$root/$1")
	shift
fi
limit=${LUMARK_E2E_TIMEOUT:-900}
stage=$(mktemp -d "${TMPDIR:-/tmp}/lumark-e2e-stage-XXXXXX")
runner=

cleanup() {
	local rc=$?
	if [[ -n $runner ]] && kill -0 "$runner" 2>/dev/null; then
		kill -TERM "$runner" 2>/dev/null || true
		sleep 5
		kill -KILL "$runner" 2>/dev/null || true
	fi
	rm -rf "$stage"
	exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
if ! grep -q '^LUMARK_QT_VERSION:STRING=5$' "$build/CMakeCache.txt" 2>/dev/null; then
	cmake -S "$root" -B "$build" -DLUMARK_QT_VERSION=5 >/dev/null
fi
cmake --build "$build" -j2 --target lumark-button
cmake --install "$build" --prefix "$stage/plugins" >/dev/null

# A stand-in for the companion camera plug-in: records the triggers it receives.
standin="$root/tests/e2e/vantor-standin.c"
if [[ -f $standin ]]; then
	mkdir -p "$stage/vantor"
	cc -shared -fPIC -O1 -o "$stage/vantor/vantor-standin.so" "$standin" $(pkg-config --cflags --libs libobs)
	export LUMARK_E2E_VANTOR_SO="$stage/vantor/vantor-standin.so"
fi

cd "$root/tests/e2e"
if [[ ! -d node_modules/obs-websocket-js ]] || [[ package-lock.json -nt node_modules/.package-lock.json ]]; then
	npm ci --no-audit --no-fund
fi

export LUMARK_E2E_PLUGIN_DIR="$stage/plugins/lumark-button"
# The figures go to LUMARK_E2E_REPORT when the caller names a file for them (to print them beside
# another host's), to the stage otherwise.
export LUMARK_E2E_REPORT=${LUMARK_E2E_REPORT:-$stage/measurements.txt}
rm -f "$LUMARK_E2E_REPORT"
set +e
timeout --signal=TERM --kill-after=30 "$limit" \
	node --test --test-concurrency=1 --test-reporter=spec "$@" ./*.test.mjs &
runner=$!
wait "$runner"
rc=$?
runner=
set -e
if [[ -s $LUMARK_E2E_REPORT ]]; then
	echo
	cat "$LUMARK_E2E_REPORT"
fi
[[ $rc -eq 124 ]] && echo "e2e: the suite ran over ${limit} s" >&2
exit $rc
