#!/usr/bin/env bash
# A second real host for the plug-in: OBS Studio 30.2.3 (Qt 6.8, obs-websocket 5.5.2) from
# Debian 13 "trixie", run headless in a cached chroot. Debian 12's own OBS is 29.0.2 with Qt 5,
# so this is where the Qt 6 build and the newer host APIs actually run.
#
# Usage: scripts/host2.sh [COMMAND] [ARGS...]        (as root)
#   check           (default) prepare, build, start OBS, check that the plug-in loads, that the
#                   websocket answers from the host, and that the plug-in unloads after SIGINT
#   prepare         make (or refresh) the cached chroot
#   build           build the Qt 6 variant inside the chroot against libobs 30.2.3
#   exec CMD...     like check, but runs CMD on the host while OBS runs; CMD gets the LUMARK_E2E_*
#                   variables below. The exit status is CMD's, or 1 when a check failed.
#   obs ARGS...     launcher: the chroot's equivalent of
#                     xvfb-run -a -s "-screen 0 1280x720x24" obs ARGS...
#                   for the OBS home in $XDG_CONFIG_HOME (which must exist). Installs the Qt 6
#                   build into that home, derives obs-websocket's config.json from global.ini when
#                   the caller wrote only the latter, and runs OBS in the foreground. SIGINT or
#                   SIGTERM to this script reach OBS as SIGINT (OBS ignores SIGTERM).
#   e2e [ARGS...]   the end-to-end suite (tests/e2e/*.test.mjs, its harness unchanged) plus
#                   scripts/host2/*.test.mjs against this host; ARGS go to node --test
#                   (e.g. --test-name-pattern=recap). Prints the suite's figures at the end.
#   run CMD...      run CMD inside the chroot (e.g. ffprobe) with the same mounts
#   shell           an interactive shell inside the chroot
#
# Environment:
#   LUMARK_HOST2_CACHE    cache folder (default /var/cache/lumark-host2); the chroot is rootfs/
#   LUMARK_HOST2_MIRROR   Debian mirror (default http://deb.debian.org/debian)
#   LUMARK_HOST2_PORT     websocket port for check/exec (default: a free one)
#   LUMARK_HOST2_BIND     extra host folders, colon-separated, mounted at the same path inside
#   LUMARK_HOST2_KEEP=1   keep the OBS home of check/exec (its path is printed)
#   LUMARK_HOST2_TIMEOUT  seconds to wait for the websocket after starting OBS (default 180)
#   LUMARK_E2E_TIMEOUT    e2e: limit for the whole suite in seconds (default 1500)
#   LUMARK_E2E_FIGURES_HOST1  e2e: a file with the suite's figures from Debian 12's OBS 29; the
#                         figures of both hosts are then printed side by side
#
# Paths are the same on both sides: the host's /tmp, the OBS home and LUMARK_HOST2_BIND folders
# are bind-mounted at their own path inside the chroot, so file paths OBS reports (recordings,
# replays, logs) can be opened from the host as they are.
#
# Variables exported to CMD by "exec":
#   LUMARK_E2E_HOST=obs30-qt6         LUMARK_E2E_OBS_VERSION=30.2.3 (as GetVersion reports it)
#   LUMARK_E2E_WS_PORT / LUMARK_E2E_WS_URL    the running OBS's websocket (no password)
#   LUMARK_E2E_OBS_HOME     its XDG_CONFIG_HOME;  LUMARK_E2E_OBS_LOG   its log file
#   LUMARK_E2E_PLUGIN_CONFIG  the plug-in's config folder ($home/obs-studio/plugin_config/lumark-button)
#   LUMARK_E2E_RECORD_DIR   the profile's output folder (recordings and replays)
#   LUMARK_E2E_RECORD_FORMAT=hybrid_mp4
#   LUMARK_E2E_OBS_LAUNCHER "<this script> obs" (start further OBS instances on this host)
#   LUMARK_E2E_FFPROBE      "<this script> run ffprobe" (the chroot's ffprobe 7.1)
#
# ---------------------------------------------------------------------------------------------
# Where this host differs from Debian 12's OBS 29.0.2 (Qt 5.15, obs-websocket 5.1.0):
#  * obs-websocket's settings. 5.1.0 reads [OBSWebSocket] in global.ini (FirstLoad, ServerEnabled,
#    ServerPort, AlertsEnabled, AuthRequired, ServerPassword). 5.5.2 ignores that section and reads
#    $XDG_CONFIG_HOME/obs-studio/plugin_config/obs-websocket/config.json with first_load,
#    server_enabled, server_port, auth_required, server_password, alerts_enabled. A missing file
#    means first_load=true: a generated password with auth on. write_websocket_config writes it.
#  * Recording format for chapters. obs_frontend_recording_add_chapter (30.2+) only works while
#    the Hybrid MP4 writer records: in simple output mode the key is RecFormat2=hybrid_mp4
#    (OBS 30 reads RecFormat2; OBS 29 reads RecFormat and has no chapters at all). An MKV
#    recording on this host is the case where the plug-in warns that chapters are unavailable.
#  * obs-websocket 5.5.2 accepts connections before OBS has finished loading and answers every
#    request with status 207 (NotReady) until then; 5.1.0 only listens once loading finished.
#    A client must retry on 207 before its first real request.
#  * Docks go through obs_frontend_add_dock_by_id (30+); 29 only has obs_frontend_add_dock.
#  * Only a Qt 6 build of the plug-in loads here, so it is built inside the chroot.
#  * OBS 30.2.3 here can die by SIGSEGV while it exits after heavy websocket traffic: about half
#    of the exits after four clients sent nothing but GetVersion, GetSceneList and
#    GetRecordStatus for 20 s (the plug-in idle) crashed in glibc's free() on a thread ending
#    during the main window's teardown, before any module was unloaded. The load scenario then
#    cannot see the plug-in's unload line; LUMARK_E2E_EXIT_MAY_CRASH=1 tells it so, and it still
#    checks everything the plug-in did before that point (replies, events, the session file).
#  * OBS 30 asks about safe mode after an unclean exit; --disable-shutdown-check skips that.
#  * Unchanged: profile and scene collection still come from [Basic] in global.ini (31 moved
#    them to user.ini), SIGINT still stops OBS cleanly, logs are in obs-studio/logs/.
# ---------------------------------------------------------------------------------------------
set -euo pipefail

SELF=$(readlink -f "${BASH_SOURCE[0]}")
SRC=$(cd "$(dirname "$SELF")/.." && pwd)
. "$SRC/scripts/lib/obs-home.sh"
CACHE=${LUMARK_HOST2_CACHE:-/var/cache/lumark-host2}
ROOT=$CACHE/rootfs
MIRROR=${LUMARK_HOST2_MIRROR:-http://deb.debian.org/debian}
SUITE=trixie
OBS_EXPECTED=30.2.3
# Everything OBS 30.2.3 and the plug-in's CMake need (libobs, obs-frontend-api, Qt6 Core/Gui/
# Widgets/DBus), plus ccache for quick rebuilds and ffmpeg for ffprobe -show_chapters.
PACKAGES="obs-studio libobs-dev qt6-base-dev cmake g++ make ccache xvfb xauth ffmpeg"
# Inside the chroot, kept between runs, one set per source tree (worktrees all mount at /src, and
# a build folder shared between trees goes stale).
TREE_KEY=$(printf '%s' "$SRC" | md5sum | cut -c1-10)
BUILD_DIR=/var/lib/lumark-host2/$TREE_KEY/build-qt6
INSTALL_DIR=/var/lib/lumark-host2/$TREE_KEY/plugins
VANTOR_SO=/var/lib/lumark-host2/$TREE_KEY/vantor-standin.so
LOAD_LINE="[lumark] plugin loaded successfully (version 0.2.1, build 2026-11-08b)"
UNLOAD_LINE="[lumark] plugin unloaded"

log() { printf '[host2 %s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }
die() {
	log "ERROR: $*"
	exit 1
}

[ "$(id -u)" = 0 ] || die "run as root (debootstrap, chroot and mounts need it)"

# Mounts live in a private mount namespace: concurrent runs do not see each other's mounts, and
# the kernel drops them even if this script is killed outright. They are still unmounted by hand.
if [ -z "${LUMARK_HOST2_NS:-}" ]; then
	export LUMARK_HOST2_NS=1
	exec unshare --mount --propagation private "$SELF" "$@"
fi

# Every process started here carries this marker in its environment, which is how cleanup finds
# exactly this run's processes (and those of earlier runs that died without cleaning up).
RUN_ID="$$.$(date +%s%N)"
MARKER="LUMARK_HOST2_RUN=$RUN_ID"
MOUNTS=()
TEMP_DIRS=()
PASS_ENV=()
RUNNER_PID=""
OBS_PID=""

is_mounted() { mountpoint -q "$1" 2>/dev/null; }

do_mount() { # do_mount TARGET mount-args...
	local target=$1
	shift
	mkdir -p "$target"
	mount "$@" "$target"
	MOUNTS+=("$target")
}

bind_same_path() { # host folder at the same path inside the chroot
	local dir
	dir=$(readlink -f "$1")
	[ -d "$dir" ] || die "not a folder: $1"
	is_mounted "$ROOT$dir" && return 0
	do_mount "$ROOT$dir" --bind "$dir"
}

mount_base() { # mount_base ROOTDIR
	local r=$1
	is_mounted "$r/proc" || do_mount "$r/proc" -t proc proc
	is_mounted "$r/dev" || do_mount "$r/dev" --bind /dev
	is_mounted "$r/dev/shm" || do_mount "$r/dev/shm" -t tmpfs -o mode=1777,nosuid,nodev shm
	cp -L /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
}

# Processes whose environment holds the marker $1 (one grep over all of /proc).
pids_with_marker() {
	grep -lzxF -- "$1" /proc/[0-9]*/environ 2>/dev/null | sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' |
		grep -vx -- "$$" || true
}

end_processes() { # end_processes MARKER: TERM, then KILL what is left after 5 s
	local pids pid i
	pids=$(pids_with_marker "$1" || true)
	[ -n "$pids" ] || return 0
	log "ending leftover processes: $(echo $pids)"
	for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
	for i in $(seq 50); do
		pids=$(pids_with_marker "$1" || true)
		[ -n "$pids" ] || return 0
		sleep 0.1
	done
	for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
	sleep 0.2
}

# Leftovers of runs whose script is gone (killed before its trap ran).
end_orphans() {
	local f m owner d
	for d in /tmp/lumark-host2-x.*; do
		[ -d "$d" ] || continue
		owner=${d#/tmp/lumark-host2-x.}
		owner=${owner%%.*}
		kill -0 "$owner" 2>/dev/null || rm -rf --one-file-system "$d"
	done
	for f in $(grep -lz '^LUMARK_HOST2_RUN=' /proc/[0-9]*/environ 2>/dev/null || true); do
		m=$(tr '\0' '\n' <"$f" 2>/dev/null | grep -m1 '^LUMARK_HOST2_RUN=' || true)
		owner=${m#LUMARK_HOST2_RUN=}
		owner=${owner%%.*}
		if [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; then
			f=${f#/proc/}
			log "ending orphan ${f%/environ} of a dead run"
			kill -KILL "${f%/environ}" 2>/dev/null || true
		fi
	done
}

unmount_all() { # newest first
	local i target
	for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
		target=${MOUNTS[i]}
		if is_mounted "$target"; then
			umount "$target" 2>/dev/null || umount -l "$target" || log "could not unmount $target"
		fi
	done
	MOUNTS=()
}

cleanup() {
	local rc=$? i target
	trap - EXIT INT TERM HUP
	set +e
	# The suite's runner takes its OBS instances down itself when told to stop.
	if [ -n "$RUNNER_PID" ] && kill -0 "$RUNNER_PID" 2>/dev/null; then
		kill -TERM "$RUNNER_PID"
		for i in $(seq 400); do kill -0 "$RUNNER_PID" 2>/dev/null || break; sleep 0.1; done
		kill -KILL "$RUNNER_PID" 2>/dev/null
	fi
	# OBS ignores SIGTERM; give it the SIGINT it shuts down on before ending the rest.
	[ -n "$OBS_PID" ] || OBS_PID=$(find_obs_pid)
	if [ -n "$OBS_PID" ] && kill -0 "$OBS_PID" 2>/dev/null; then
		kill -INT "$OBS_PID" 2>/dev/null
		for i in $(seq 100); do kill -0 "$OBS_PID" 2>/dev/null || break; sleep 0.1; done
	fi
	end_processes "$MARKER"
	unmount_all
	for target in "${TEMP_DIRS[@]}"; do
		# Never follow a mount into the host while deleting.
		if [ -n "$target" ] && ! findmnt -rn -o TARGET | grep -q "^$target"; then
			rm -rf --one-file-system "$target"
		fi
	done
	exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

in_chroot() { # in_chroot [VAR=VALUE...] CMD... : clean environment plus the marker
	chroot "$ROOT" /usr/bin/env -i "$MARKER" \
		PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
		HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive "$@"
}

with_lock() { # exclusive lock on the cache for changes to the chroot
	mkdir -p "$CACHE"
	exec 9>"$CACHE/lock"
	if ! flock -w 1200 9; then die "another run holds $CACHE/lock"; fi
}
unlock() { flock -u 9; exec 9>&-; }

# --- prepare -----------------------------------------------------------------------------------

prepare() {
	with_lock
	end_orphans
	local stamp="$ROOT/.lumark-host2-packages" start new
	start=$(date +%s)
	if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$PACKAGES" ]; then
		unlock
		return 0
	fi
	command -v debootstrap >/dev/null || {
		log "installing debootstrap on the host"
		apt-get install -y --no-install-recommends debootstrap >/dev/null
	}
	if [ ! -d "$ROOT" ]; then
		new=$CACHE/rootfs.new
		if [ -e "$new" ]; then
			findmnt -rn -o TARGET | grep -q "^$new" && die "$new still has mounts"
			rm -rf --one-file-system "$new"
		fi
		log "debootstrap $SUITE into $new"
		debootstrap --variant=minbase "$SUITE" "$new" "$MIRROR" >"$CACHE/debootstrap.log" 2>&1 ||
			die "debootstrap failed, see $CACHE/debootstrap.log"
		install_packages "$new"
		mv "$new" "$ROOT"
	else
		install_packages "$ROOT"
	fi
	echo "$PACKAGES" >"$stamp"
	log "chroot ready in $(($(date +%s) - start)) s"
	unlock
}

install_packages() { # install_packages ROOTDIR
	local r=$1 m
	local first=${#MOUNTS[@]}
	mount_base "$r"
	log "apt-get install $PACKAGES"
	# shellcheck disable=SC2086
	chroot "$r" /usr/bin/env -i "$MARKER" PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
		DEBIAN_FRONTEND=noninteractive sh -c \
		"apt-get update -q && apt-get install -y -q --no-install-recommends $PACKAGES && apt-get clean" \
		>"$CACHE/apt.log" 2>&1 || die "apt-get failed, see $CACHE/apt.log"
	end_processes "$MARKER"
	# The chroot may be renamed next; unmount what was mounted for apt.
	for ((m = ${#MOUNTS[@]} - 1; m >= first; m--)); do
		umount "${MOUNTS[m]}" || umount -l "${MOUNTS[m]}"
		unset 'MOUNTS[m]'
	done
	MOUNTS=("${MOUNTS[@]}")
}

# --- build -------------------------------------------------------------------------------------

build() {
	with_lock
	mount_base "$ROOT"
	is_mounted "$ROOT/src" || do_mount "$ROOT/src" --bind "$SRC"
	mount -o remount,bind,ro "$ROOT/src"
	local start=$(date +%s)
	log "building the Qt 6 variant against libobs $(in_chroot dpkg-query -W -f '${Version}' libobs-dev)"
	in_chroot CCACHE_DIR=/var/cache/ccache CCACHE_BASEDIR=/src sh -c "
		set -e
		[ -f $BUILD_DIR/CMakeCache.txt ] ||
			cmake -S /src -B $BUILD_DIR -DLUMARK_QT_VERSION=6 -DLUMARK_TESTS=OFF \
				-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$INSTALL_DIR >/dev/null
		cmake --build $BUILD_DIR -j2
		rm -rf $INSTALL_DIR
		mkdir -p \$(dirname $VANTOR_SO)
		cmake --install $BUILD_DIR >/dev/null
		ldd $INSTALL_DIR/lumark-button/bin/64bit/lumark-button.so | grep -q libQt6Core
		# The suite's stand-in for the companion camera plug-in, against this libobs.
		if [ -f /src/tests/e2e/vantor-standin.c ]; then
			cc -shared -fPIC -O1 -I/usr/include/obs -o $VANTOR_SO /src/tests/e2e/vantor-standin.c -lobs
		fi
	" >"$CACHE/build.log" 2>&1 || {
		tail -n 40 "$CACHE/build.log" >&2
		die "build failed, see $CACHE/build.log"
	}
	log "built in $(($(date +%s) - start)) s"
	unlock
}

# --- OBS home ----------------------------------------------------------------------------------

install_plugin() { # install_plugin HOME
	local dest=$1/obs-studio/plugins/lumark-button
	rm -rf "$dest"
	mkdir -p "$(dirname "$dest")"
	cp -a "$ROOT$INSTALL_DIR/lumark-button" "$dest"
}

write_websocket_config() { # write_websocket_config HOME PORT
	local dir=$1/obs-studio/plugin_config/obs-websocket
	mkdir -p "$dir"
	cat >"$dir/config.json" <<EOF
{
  "first_load": false,
  "server_enabled": true,
  "server_port": $2,
  "auth_required": false,
  "server_password": "",
  "alerts_enabled": false
}
EOF
}

# An isolated OBS home: no first-run wizard, simple output with the replay buffer on and
# Hybrid MP4 recordings (chapters), websocket on PORT without a password (both config styles).
write_home() { # write_home HOME PORT OUTPUT_DIR
	local h=$1 port=$2 out=$3
	obs_home_write "$h" "$out" 640x360 "$port" <<EOF
RecFormat2=hybrid_mp4
RecQuality=Small
StreamEncoder=x264
VBitrate=1000
ABitrate=128
RecRBTime=10
RecRBSize=256
RecRBPrefix=Replay
EOF
	cp "$h/obs-studio/global.ini" "$h/obs-studio/user.ini"
	write_websocket_config "$h" "$port"
}

# global.ini's [OBSWebSocket] KEY, for homes written for OBS 29.
ini_value() { # ini_value FILE SECTION KEY
	awk -F= -v s="[$2]" -v k="$3" '
		/^\[/ { in_s = ($0 == s); next }
		in_s && $1 == k { sub(/^[^=]*=/, ""); print; exit }' "$1" 2>/dev/null || true
}

free_port() {
	node -e 'const s=require("net").createServer();s.listen(0,"127.0.0.1",()=>{console.log(s.address().port);s.close()})'
}

# X display numbers are shared with the host through abstract sockets; pick one nobody uses.
free_display() {
	local n
	for n in $(seq 140 400); do
		[ -e "/tmp/.X$n-lock" ] && continue
		grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix && continue
		echo "$n"
		return 0
	done
	die "no free X display"
}

# --- OBS ---------------------------------------------------------------------------------------

# start_obs HOME ARGS... : runs OBS in the background; sets OBS_JOB (the chroot's process).
# OBS_OUTPUT, when set, receives OBS's own stdout and stderr (its log is in the home anyway).
start_obs() {
	local h=$1 display
	shift
	if [ -n "${OBS_OUTPUT:-}" ]; then exec 8>"$OBS_OUTPUT"; else exec 8>&1; fi
	display=$(free_display)
	# xvfb-run keeps its Xauthority in a temporary folder that it cannot remove when it is killed;
	# give it one of ours (host and chroot share /tmp), removed by cleanup or by a later run.
	local xtmp
	xtmp=$(mktemp -d "/tmp/lumark-host2-x.$$.XXXXXX")
	TEMP_DIRS+=("$xtmp")
	in_chroot TMPDIR="$xtmp" XDG_CONFIG_HOME="$h" QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 \
		${TZ:+TZ="$TZ"} \
		"${PASS_ENV[@]}" xvfb-run -a -n "$display" -s "-screen 0 1280x720x24 -nolisten tcp" \
		obs --multi --disable-shutdown-check --disable-missing-files-check --verbose \
		--websocket_ipv4_only "$@" >&8 2>&8 &
	OBS_JOB=$!
	exec 8>&-
}

# The obs process of this run (started under xvfb-run inside the chroot).
find_obs_pid() {
	local pid
	for pid in $(pids_with_marker "$MARKER"); do
		if [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = obs ]; then
			echo "$pid"
			return 0
		fi
	done
	return 1
}

wait_websocket() { # wait_websocket PORT SECONDS
	local deadline=$(($(date +%s) + $2)) out=""
	while [ "$(date +%s)" -lt "$deadline" ]; do
		kill -0 "$OBS_JOB" 2>/dev/null || {
			log "OBS exited before its websocket answered"
			return 1
		}
		if out=$(node "$SRC/scripts/host2/ws-check.mjs" "$1" "$OBS_EXPECTED" 3000 2>&1); then
			log "websocket from the host: $out"
			return 0
		fi
		sleep 1
	done
	log "websocket on port $1 did not answer within $2 s (last: $out)"
	return 1
}

obs_log_file() { ls -t "$1"/obs-studio/logs/*.txt 2>/dev/null | head -n 1 || true; }

stop_obs() { # SIGINT, then wait for the chroot's process tree
	local i
	OBS_PID=$(find_obs_pid || true)
	if [ -n "$OBS_PID" ]; then
		kill -INT "$OBS_PID" 2>/dev/null || true
		for i in $(seq 600); do kill -0 "$OBS_PID" 2>/dev/null || break; sleep 0.1; done
		if kill -0 "$OBS_PID" 2>/dev/null; then
			log "OBS did not stop within 60 s of SIGINT"
			return 1
		fi
	fi
	OBS_PID=""
	wait "$OBS_JOB" 2>/dev/null || true
}

check_log() { # check_log LOGFILE LINE
	if grep -qF -- "$2" "$1"; then
		log "log has: $2"
	else
		log "log LACKS: $2"
		return 1
	fi
}

# check / exec: one OBS run around an optional host command.
run_session() {
	local port=${LUMARK_HOST2_PORT:-$(free_port)} h out logf rc=0 t0
	prepare
	build
	mount_base "$ROOT"
	bind_same_path /tmp
	h=$(mktemp -d /tmp/lumark-host2.XXXXXX)
	[ "${LUMARK_HOST2_KEEP:-}" = 1 ] && log "OBS home kept: $h" || TEMP_DIRS+=("$h")
	out=$h/recordings
	write_home "$h" "$port" "$out"
	install_plugin "$h"
	local extra
	IFS=: read -ra extra <<<"${LUMARK_HOST2_BIND:-}"
	for b in "${extra[@]}"; do [ -n "$b" ] && bind_same_path "$b"; done

	t0=$(date +%s.%N)
	log "starting OBS $OBS_EXPECTED (websocket port $port, home $h)"
	OBS_OUTPUT=$h/obs-output.txt start_obs "$h" --profile CI --collection CI --websocket_port "$port"
	if wait_websocket "$port" "${LUMARK_HOST2_TIMEOUT:-180}"; then
		log "OBS answered after $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}') s"
	else
		rc=1
	fi
	logf=$(obs_log_file "$h")
	if [ "$rc" = 0 ]; then
		check_log "$logf" "$LOAD_LINE" || rc=1
		if [ $# -gt 0 ]; then
			log "running: $*"
			set +e
			LUMARK_E2E_HOST=obs30-qt6 LUMARK_E2E_OBS_VERSION=$OBS_EXPECTED \
				LUMARK_E2E_WS_PORT=$port LUMARK_E2E_WS_URL=ws://127.0.0.1:$port \
				LUMARK_E2E_OBS_HOME=$h LUMARK_E2E_OBS_LOG=$logf \
				LUMARK_E2E_PLUGIN_CONFIG=$h/obs-studio/plugin_config/lumark-button \
				LUMARK_E2E_RECORD_DIR=$out LUMARK_E2E_RECORD_FORMAT=hybrid_mp4 \
				LUMARK_E2E_OBS_LAUNCHER="$SELF obs" LUMARK_E2E_FFPROBE="$SELF run ffprobe" \
				"$@"
			local cmd_rc=$?
			set -e
			[ "$cmd_rc" = 0 ] || {
				log "command failed with status $cmd_rc"
				rc=$cmd_rc
			}
		fi
	fi
	log "stopping OBS with SIGINT"
	stop_obs || rc=1
	logf=$(obs_log_file "$h")
	if [ -n "$logf" ]; then
		check_log "$logf" "$UNLOAD_LINE" || rc=1
		if [ "$rc" != 0 ]; then
			log "last lines of $logf (profiler lines left out):"
			grep -v '[┃┣┗]' "$logf" | tail -n 40 >&2
		fi
		cp "$logf" "$CACHE/last-obs.log"
	else
		log "OBS wrote no log"
		rc=1
	fi
	[ "$rc" = 0 ] && log "PASS" || log "FAIL"
	return "$rc"
}

# obs ARGS...: foreground launcher for a home the caller prepared.
launch() {
	local h=${XDG_CONFIG_HOME:-} port name
	[ -n "$h" ] && [ -d "$h" ] || die "set XDG_CONFIG_HOME to an existing OBS home"
	h=$(readlink -f "$h")
	if [ "${LUMARK_HOST2_NO_BUILD:-}" = 1 ] && [ -f "$ROOT$INSTALL_DIR/lumark-button/bin/64bit/lumark-button.so" ]; then
		end_orphans # built once by the caller for a whole suite
	else
		prepare
		build
	fi
	# The caller's locale, time zone and OBS/Qt settings reach OBS; nothing else of the host does.
	for name in $(compgen -e); do
		case "$name" in
		LANG | LC_* | TZ | OBS_* | QT_* | LIBGL_*) PASS_ENV+=("$name=${!name}") ;;
		esac
	done
	mount_base "$ROOT"
	bind_same_path /tmp
	bind_same_path "$h"
	local extra
	IFS=: read -ra extra <<<"${LUMARK_HOST2_BIND:-}"
	for b in "${extra[@]}"; do [ -n "$b" ] && bind_same_path "$b"; done
	install_plugin "$h"
	if [ ! -f "$h/obs-studio/plugin_config/obs-websocket/config.json" ]; then
		port=$(ini_value "$h/obs-studio/global.ini" OBSWebSocket ServerPort)
		write_websocket_config "$h" "${port:-4455}"
	fi
	# Forward the caller's stop request as the SIGINT OBS understands, then wait for it.
	trap 'stop_obs; exit 130' INT
	trap 'stop_obs; exit 143' TERM
	start_obs "$h" "$@"
	local rc=0
	wait "$OBS_JOB" || rc=$?
	# wait returns early when a trapped signal arrives; the traps above finish the job.
	return "$rc"
}

# The end-to-end suite of this tree against this host. The harness is unchanged: shims first in
# PATH send its "xvfb-run ... obs" and "obs --help" into the chroot, and each OBS start is a
# launcher of its own (own mount namespace), so this outer run holds no mounts meanwhile.
run_e2e() {
	local figures=$CACHE/e2e-figures.txt tests=() f rc=0
	[ -f "$SRC/tests/e2e/harness.mjs" ] || die "no end-to-end suite in $SRC/tests/e2e"
	prepare
	build
	unmount_all
	for f in "$SRC"/tests/e2e/*.test.mjs "$SRC"/scripts/host2/*.test.mjs; do [ -f "$f" ] && tests+=("$f"); done
	(
		cd "$SRC/tests/e2e"
		if [ ! -d node_modules/obs-websocket-js ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
			npm ci --no-audit --no-fund >&2
		fi
	)
	rm -f "$figures"
	local vantor=()
	[ -f "$ROOT$VANTOR_SO" ] && vantor=(LUMARK_E2E_VANTOR_SO="$ROOT$VANTOR_SO")
	env -u LUMARK_HOST2_NS PATH="$SRC/scripts/host2/shim:$PATH" LUMARK_HOST2_NO_BUILD=1 \
		LUMARK_E2E_HOST=obs30-qt6 LUMARK_E2E_FFPROBE="$SELF run ffprobe" LUMARK_E2E_EXIT_MAY_CRASH=1 \
		LUMARK_E2E_PLUGIN_DIR="$ROOT$INSTALL_DIR/lumark-button" LUMARK_E2E_REPORT="$figures" "${vantor[@]}" \
		timeout --signal=TERM --kill-after=30 "${LUMARK_E2E_TIMEOUT:-1500}" \
		node --test --test-concurrency=1 --test-reporter=spec "$@" "${tests[@]}" &
	RUNNER_PID=$!
	wait "$RUNNER_PID" || rc=$?
	RUNNER_PID=""
	[ "$rc" = 124 ] && log "the suite ran over ${LUMARK_E2E_TIMEOUT:-1500} s"
	print_figures "$figures"
	return "$rc"
}

# The suite's figures for this host, beside those of Debian 12's OBS 29 when a file with them
# is given in LUMARK_E2E_FIGURES_HOST1 (the same lines scripts/e2e.sh prints).
print_figures() {
	local mine=$1 other=${LUMARK_E2E_FIGURES_HOST1:-}
	[ -s "$mine" ] || return 0
	echo
	if [ -n "$other" ] && [ -s "$other" ]; then
		node "$SRC/scripts/host2/figures.mjs" "$other" "$mine"
	else
		echo "OBS $OBS_EXPECTED (Qt 6, Debian 13 chroot):"
		cat "$mine"
	fi
}

cmd=${1:-check}
[ $# -gt 0 ] && shift
case "$cmd" in
prepare) prepare ;;
build)
	prepare
	build
	echo "$ROOT$INSTALL_DIR/lumark-button"
	;;
check) run_session ;;
e2e) run_e2e "$@" ;;
exec)
	[ $# -gt 0 ] || die "exec needs a command"
	run_session "$@"
	;;
obs) launch "$@" ;;
run | shell)
	prepare
	mount_base "$ROOT"
	bind_same_path /tmp
	IFS=: read -ra extra <<<"${LUMARK_HOST2_BIND:-}"
	for b in "${extra[@]}"; do [ -n "$b" ] && bind_same_path "$b"; done
	if [ "$cmd" = shell ]; then in_chroot bash; else in_chroot "$@"; fi
	;;
*) die "unknown command: $cmd (check, prepare, build, exec, e2e, obs, run, shell)" ;;
esac
