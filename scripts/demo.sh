#!/usr/bin/env bash
# Runs Lumark Button for real.
#  - With a display: builds the plug-in for the installed OBS, installs it into the user's OBS
#    (~/.config/obs-studio/plugins/lumark-button) and starts OBS.
#  - Without a display: a short headless demo session (presses, a scene switch, a song mark, the
#    session end) in an isolated OBS home under /tmp, then prints where the clips, the session file and
#    the three lists went, and the timestamps list.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

command -v obs >/dev/null 2>&1 || scripts/install-deps.sh

# The plug-in must use the Qt major version OBS was built with (Debian 12's OBS 29 uses Qt 5).
qt=6
if ldd "$(command -v obs)" 2>/dev/null | grep -q 'libQt5'; then qt=5; fi
build=$root/build-qt$qt
export CCACHE_BASEDIR=$root
if ! grep -q "^LUMARK_QT_VERSION:STRING=$qt\$" "$build/CMakeCache.txt" 2>/dev/null; then
	cmake -S "$root" -B "$build" -DLUMARK_QT_VERSION=$qt >/dev/null
fi
cmake --build "$build" -j2 --target lumark-button

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
	prefix="${XDG_CONFIG_HOME:-$HOME/.config}/obs-studio/plugins"
	cmake --install "$build" --prefix "$prefix" >/dev/null
	echo "Installed into $prefix/lumark-button; starting OBS."
	exec obs "$@"
fi

stage=$(mktemp -d "${TMPDIR:-/tmp}/lumark-demo-stage-XXXXXX")
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
cd "$root/tests/e2e"
if [[ ! -d node_modules/obs-websocket-js ]]; then npm ci --no-audit --no-fund >/dev/null; fi
LUMARK_E2E_PLUGIN_DIR="$stage/lumark-button" LUMARK_E2E_KEEP=1 node demo.mjs
