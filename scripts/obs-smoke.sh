#!/usr/bin/env bash
# Loads the Qt 5 build into Debian's real OBS, headless, and checks the load and unload lines.
# Usage: scripts/obs-smoke.sh [build-dir]   (default: build-qt5, configured with -DLUMARK_QT_VERSION=5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/obs-home.sh"
build=${1:-$root/build-qt5}

if [ ! -f "$build/lumark-button.so" ]; then
	cmake -S "$root" -B "$build" -DLUMARK_QT_VERSION=5 >/dev/null
	cmake --build "$build" -j2 --target lumark-button
fi

home=$(mktemp -d /tmp/lumark-smoke.XXXXXX)
obs_pid=""
cleanup() {
	if [ -n "$obs_pid" ] && kill -0 "$obs_pid" 2>/dev/null; then
		kill -KILL -- -"$obs_pid" 2>/dev/null || kill -KILL "$obs_pid" 2>/dev/null || true
	fi
	rm -rf "$home"
}
trap cleanup EXIT

cfg=$home/obs-studio
obs_home_write "$home" "$home/out" 320x180 "" <<INI
RecQuality=Small
RecRBTime=10
RecRBSize=256
INI
cmake --install "$build" --prefix "$cfg/plugins" >/dev/null
test -f "$cfg/plugins/lumark-button/bin/64bit/lumark-button.so"
test -f "$cfg/plugins/lumark-button/data/locale/en-US.ini"

export XDG_CONFIG_HOME=$home QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1
setsid xvfb-run -a -s "-screen 0 1280x720x24" \
	obs --multi --disable-missing-files-check --profile CI --collection CI --minimize-to-tray \
	>"$home/obs.out" 2>&1 &
obs_pid=$!

log() { cat "$cfg"/logs/*.txt 2>/dev/null || true; }
loaded="[lumark] plugin loaded successfully (version 0.2.1, build 2026-11-08b)"
for _ in $(seq 1 120); do
	log | grep -qF "$loaded" && log | grep -qF "==== Startup complete" && break
	sleep 0.5
done
if ! log | grep -qF "$loaded"; then
	echo "FAIL: OBS did not log the plug-in's load line"
	log | tail -40
	exit 1
fi
echo "ok: $loaded"

# Close the main window the way a window manager would, so OBS runs its exit events; OBS 29's own
# SIGINT handler can deadlock inside Xlib, so the signal is only the fallback.
obs=$(pgrep -x obs -g "$obs_pid" | head -n 1 || true)
closed=1
if [ -n "$obs" ]; then
	display=$(tr '\0' '\n' <"/proc/$obs/environ" | sed -n 's/^DISPLAY=//p')
	xauth=$(tr '\0' '\n' <"/proc/$obs/environ" | sed -n 's/^XAUTHORITY=//p')
	DISPLAY=$display XAUTHORITY=$xauth python3 "$root/tests/e2e/close-window.py" && closed=0
fi
[ "$closed" = 0 ] || pkill -INT -x obs -g "$obs_pid" || true
for _ in $(seq 1 60); do
	kill -0 "$obs_pid" 2>/dev/null || break
	sleep 0.5
done
if ! log | grep -qF "[lumark] plugin unloaded"; then
	echo "FAIL: no unload line after OBS exited"
	log | tail -40
	exit 1
fi
echo "ok: [lumark] plugin unloaded"
