#!/usr/bin/env bash
# Screenshots for the README: Debian's real OBS 29, headless, with the plug-in, a short stored session
# in the dock, and the settings dialog, in each locale.
# Usage: scripts/screenshots.sh [build-dir] [out-dir]
#   build-dir: a Qt 5 build (default build-qt5, configured with -DLUMARK_QT_VERSION=5)
#   out-dir:   where the PNGs go (default docs/images)
#   LOCALES="en-US ja-JP" picks the locales.
# Needs obs-studio, xvfb, imagemagick (import), xdotool and a Japanese font (fonts-vlgothic) for ja-JP.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/obs-home.sh"
build=${1:-$root/build-qt5}
out=${2:-$root/docs/images}
locales=${LOCALES:-en-US ja-JP}
width=1400
height=900

for tool in obs Xvfb import xdotool; do
	command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [ ! -f "$build/lumark-button.so" ]; then
	cmake -S "$root" -B "$build" -DLUMARK_QT_VERSION=5 >/dev/null
	cmake --build "$build" -j2 --target lumark-button
fi
mkdir -p "$out"

home=""
obs_pid=""
xvfb_pid=""
cleanup() {
	if [ -n "$obs_pid" ] && kill -0 "$obs_pid" 2>/dev/null; then
		kill -KILL "$obs_pid" 2>/dev/null || true
	fi
	if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
		kill "$xvfb_pid" 2>/dev/null || true
	fi
	[ -n "$home" ] && [ -z "${KEEP:-}" ] && rm -rf "$home"
	home="" obs_pid="" xvfb_pid=""
}
trap cleanup EXIT

# A finished stream of half an hour: an opening, a scene change, a song, three presses (one with
# a saved clip, one without buffer, one that failed).
write_session() {
	local dir=$1 locale=$2 clip=$3
	local start=1762628400000 # 2025-11-08 19:00 UTC
	local opening scene first song second third
	if [ "$locale" = ja-JP ]; then
		opening="オープニング" scene="ゲーム画面" first="初勝利！最後の一撃" song="曲: 青い空"
		second="ルマーク02" third="コメント欄で大喜利"
	else
		opening="Opening" scene="Game" first="First win, last-second shot" song="Song: Blue Sky"
		second="Lumark02" third="Chat turns it into a quiz"
	fi
	mkdir -p "$dir"
	cat >"$dir/2025-11-08_20-00-00.json" <<JSON
{
    "format": 1,
    "id": "2025-11-08_20-00-00",
    "prefix": "2025-11-08 20-00",
    "source": 0,
    "start_wall_ms": $start,
    "end_wall_ms": $((start + 1800000)),
    "length_ms": 1800000,
    "shift_ms": 0,
    "archive_url": "https://youtu.be/dQw4w9WgXcQ",
    "export_dir": "",
    "next_id": 7,
    "next_number": 4,
    "entries": [
        {"id": 1, "kind": 0, "t_ms": 0, "wall_ms": $start, "label": "$opening", "chapter": true, "number": 0},
        {"id": 2, "kind": 1, "t_ms": 95000, "wall_ms": $((start + 95000)), "label": "$scene", "chapter": true, "number": 0},
        {"id": 3, "kind": 2, "t_ms": 312000, "wall_ms": $((start + 312000)), "label": "$first", "chapter": true, "number": 1,
         "clip": {"state": 2, "path": "$clip", "start_ms": 292000, "end_ms": 312000, "saved_wall_ms": $((start + 313000)), "shared_with": 0, "want_replay": true}},
        {"id": 4, "kind": 5, "t_ms": 600000, "wall_ms": $((start + 600000)), "label": "$song", "chapter": true, "number": 0},
        {"id": 5, "kind": 2, "t_ms": 845000, "wall_ms": $((start + 845000)), "label": "$second", "chapter": false, "number": 2,
         "clip": {"state": 4, "path": "", "start_ms": 0, "end_ms": 0, "saved_wall_ms": 0, "shared_with": 0, "want_replay": false}},
        {"id": 6, "kind": 2, "t_ms": 1200000, "wall_ms": $((start + 1200000)), "label": "$third", "chapter": true, "number": 3,
         "clip": {"state": 3, "path": "", "start_ms": 0, "end_ms": 0, "saved_wall_ms": 0, "shared_with": 0, "want_replay": false}}
    ]
}
JSON
}

shoot() {
	local locale=$1
	home=$(mktemp -d /tmp/lumark-shots.XXXXXX)
	local cfg=$home/obs-studio
	obs_home_write "$home" "$home/out" 320x180 "" "$locale" <<INI
RecQuality=Stream
VBitrate=2500
ABitrate=160
RecRBTime=30
RecRBSize=512
INI
	local clip="$home/out/2025-11-08 20-00 Lumark01 0-05-12.mkv"
	: >"$clip"
	write_session "$cfg/plugin_config/lumark-button/sessions" "$locale" "$clip"
	cmake --install "$build" --prefix "$cfg/plugins" >/dev/null

	exec 5< <(Xvfb -displayfd 1 -screen 0 ${width}x${height}x24 -nolisten tcp 2>/dev/null)
	xvfb_pid=$!
	local number
	read -r -t 20 number <&5
	export DISPLAY=:$number

	XDG_CONFIG_HOME=$home QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 LANG=C.UTF-8 \
		obs --multi --disable-missing-files-check --profile CI --collection CI >"$home/obs.out" 2>&1 &
	obs_pid=$!

	log() { cat "$cfg"/logs/*.txt 2>/dev/null || true; }
	for _ in $(seq 1 120); do
		log | grep -qF "[lumark] dock width" && break
		sleep 0.5
	done
	if ! log | grep -qF "[lumark] dock width"; then
		echo "FAIL: the dock did not come up in $locale" >&2
		log | tail -40 >&2
		exit 1
	fi
	log | grep -F "[lumark] dock" || true

	# No window manager: stretch the main window over the screen so the dock has room.
	local main
	main=$(xdotool search --sync --onlyvisible --name "OBS 29" | head -1)
	xdotool windowmove "$main" 0 0 windowsize "$main" $width $height
	sleep 3
	import -window "$main" "$out/dock-$locale.png"

	# The settings dialog, opened from the Tools menu like a user would (it is the menu's last item).
	xdotool key --window "$main" alt+t
	sleep 1
	xdotool key Up Return
	local dialog=""
	for _ in $(seq 1 20); do
		dialog=$(xdotool search --onlyvisible --name "^$(grep -m1 '^Settings.Title=' "$root/data/locale/$locale.ini" |
			sed 's/^[^=]*="\(.*\)"$/\1/')\$" 2>/dev/null | head -1 || true)
		[ -n "$dialog" ] && break
		sleep 0.5
	done
	if [ -z "$dialog" ]; then
		echo "FAIL: the settings dialog did not open in $locale" >&2
		import -window root "$out/failed-$locale.png"
		exit 1
	fi
	sleep 1
	import -window "$dialog" "$out/settings-$locale.png"
	xdotool key --window "$dialog" Escape

	kill -INT "$obs_pid" 2>/dev/null || true
	for _ in $(seq 1 60); do
		kill -0 "$obs_pid" 2>/dev/null || break
		sleep 0.5
	done
	cleanup
	echo "ok: $out/dock-$locale.png $out/settings-$locale.png"
}

for locale in $locales; do
	shoot "$locale"
done
