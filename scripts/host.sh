#!/usr/bin/env bash
# Runs the plug-in in one of the real OBS hosts it supports. A host is a data file in
# scripts/hosts/ (Debian suite, chroot or the machine itself, packages, how its OBS home is
# written, quirks); docs/hosts.md lists how the hosts differ.
#
# Usage: scripts/host.sh HOST [COMMAND] [ARGS...]      HOST: obs29, obs30, obs32 (ls scripts/hosts)
#   check           (default) prepare, build, start OBS, check that the plug-in loads, that the
#                   websocket answers from the machine, and that the plug-in unloads on exit
#   prepare         make (or refresh) the host: the cached chroot, or check the machine's packages
#   build           build the plug-in against the host's libobs and Qt; prints the install folder
#   cpack           chroot hosts: the packages (CPack) of that same build; prints their folder
#   exec CMD...     like check, but runs CMD on the machine while OBS runs; CMD gets the
#                   LUMARK_E2E_* variables below. The exit status is CMD's, or 1 when a check failed.
#   obs ARGS...     launcher: a headless "obs ARGS..." of this host (own X server) for the OBS home
#                   in $XDG_CONFIG_HOME (which must exist). Installs the build into that home,
#                   writes obs-websocket's config.json from global.ini's [OBSWebSocket] when the
#                   host reads the former and the caller wrote only the latter, and runs OBS in the
#                   foreground. SIGINT or SIGTERM reach OBS as SIGINT (OBS ignores SIGTERM).
#                   "obs --help" and "obs --version" answer at once, without X.
#   e2e [ARGS...]   the end-to-end suite (tests/e2e/*.test.mjs) against this host; test files
#                   among ARGS run only those, other ARGS go to node --test
#                   (e.g. --test-name-pattern=recap). Prints the suite's figures.
#   run CMD...      run CMD in the host (inside the chroot with the same mounts, e.g. ffprobe)
#   shell           an interactive shell in the host
#
# Chroot hosts need root (debootstrap, chroot, mounts). Environment:
#   LUMARK_HOST_CACHE    cache folder (default from the host file, else /var/cache/lumark-HOST);
#                        the chroot is rootfs/, logs of prepare and build beside it
#   LUMARK_HOST_MIRROR   Debian mirror (default http://deb.debian.org/debian)
#   LUMARK_HOST_PORT     websocket port for check/exec (default: a free one)
#   LUMARK_HOST_BIND     extra folders, colon-separated, mounted at the same path inside
#   LUMARK_HOST_KEEP=1   keep the OBS home of check/exec (its path is printed)
#   LUMARK_HOST_TIMEOUT  seconds to wait for the websocket after starting OBS (default 180)
#   LUMARK_HOST_BUILD_DIR  native hosts: the build folder (default build-qtN of this tree)
#   LUMARK_E2E_TIMEOUT   e2e: limit for the whole suite in seconds (default 1800)
#   LUMARK_E2E_REPORT    e2e: a file that receives the suite's figures
#
# Paths are the same on both sides: /tmp, the OBS home and LUMARK_HOST_BIND folders are
# bind-mounted at their own path inside a chroot, so file paths OBS reports (recordings, replays,
# logs) can be opened from the machine as they are. The source tree is at /src, read-only.
#
# Variables exported to CMD by "exec" (and, where they apply, to the e2e suite):
#   LUMARK_E2E_HOST=HOST    LUMARK_E2E_OBS_VERSION (as GetVersion reports it)
#   LUMARK_E2E_WS_PORT / LUMARK_E2E_WS_URL    the running OBS's websocket (no password)
#   LUMARK_E2E_OBS_HOME     its XDG_CONFIG_HOME;  LUMARK_E2E_OBS_LOG   its log file
#   LUMARK_E2E_VERSION_HEADER  the build's generated LumarkVersion.h (version and build tag)
#   LUMARK_E2E_PLUGIN_CONFIG  the plug-in's config folder ($home/obs-studio/plugin_config/lumark-button)
#   LUMARK_E2E_RECORD_DIR   the profile's output folder (recordings and replays)
#   LUMARK_E2E_RECORD_FORMAT  the profile's recording format (hybrid_mp4 where chapters exist)
#   LUMARK_E2E_OBS_LAUNCHER "<this script> HOST obs" (start further OBS instances on this host)
#   LUMARK_E2E_FFPROBE      "<this script> HOST run ffprobe" (the host's ffprobe)
#   LUMARK_E2E_HOST_ROOT    e2e: the chroot's root folder (empty on the machine itself); a chroot
#                           host's OBS runs in a mount namespace of its own under it
set -euo pipefail

SELF=$(readlink -f "${BASH_SOURCE[0]}")
SRC=$(cd "$(dirname "$SELF")/.." && pwd)
. "$SRC/scripts/lib/obs-home.sh"

HOST=${1:-}
if [ -z "$HOST" ] || [ ! -f "$SRC/scripts/hosts/$HOST" ]; then
	echo "usage: $0 HOST [check|prepare|build|exec|obs|e2e|run|shell] [ARGS...]" >&2
	echo "hosts: $(ls "$SRC/scripts/hosts" | tr '\n' ' ')" >&2
	exit 2
fi
shift
HOST_CACHE=""
HOST_SUITE=""
HOST_DEBOOTSTRAP_SCRIPT=""
HOST_APT_OPTIONS=""
. "$SRC/scripts/hosts/$HOST"

CACHE=${LUMARK_HOST_CACHE:-${HOST_CACHE:-/var/cache/lumark-$HOST}}
MIRROR=${LUMARK_HOST_MIRROR:-http://deb.debian.org/debian}
UNLOAD_LINE="[lumark] plugin unloaded"

log() { printf '[%s %s] %s\n' "$HOST" "$(date -u +%H:%M:%S)" "$*" >&2; }
die() {
	log "ERROR: $*"
	exit 1
}

if [ "$HOST_ROOT" = chroot ]; then
	ROOT=$CACHE/rootfs
	# Inside the chroot, kept between runs, one set per source tree (worktrees all mount at /src,
	# and a build folder shared between trees goes stale).
	TREE_KEY=$(printf '%s' "$SRC" | md5sum | cut -c1-10)
	STATE=/var/lib/lumark/$TREE_KEY
	BUILD_DIR=$STATE/build-qt$HOST_QT
	INSTALL_DIR=$STATE/plugins
	VANTOR_SO=$STATE/vantor-standin.so
	[ "$(id -u)" = 0 ] || die "run as root (debootstrap, chroot and mounts need it)"
	# Mounts live in a private mount namespace: concurrent runs do not see each other's mounts,
	# and the kernel drops them even if this script is killed outright. They are still unmounted.
	if [ "${LUMARK_HOST_NS:-}" != "$HOST" ]; then
		export LUMARK_HOST_NS=$HOST
		exec unshare --mount --propagation private "$SELF" "$HOST" "$@"
	fi
else
	ROOT=""
	BUILD_DIR=${LUMARK_HOST_BUILD_DIR:-$SRC/build-qt$HOST_QT}
	STATE=$BUILD_DIR/host-stage
	INSTALL_DIR=$STATE/plugins
	VANTOR_SO=$STATE/vantor-standin.so
fi
# CMake writes the version and build tag into the build folder; the load line names them.
VERSION_HEADER=$ROOT$BUILD_DIR/generated/LumarkVersion.h

# Every process started here carries this marker in its environment, which is how cleanup finds
# exactly this run's processes (and those of earlier runs that died without cleaning up).
RUN_ID="$$.$(date +%s%N)"
MARKER="LUMARK_HOST_RUN=$RUN_ID"
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

bind_same_path() { # a folder of the machine at the same path inside the chroot
	local dir
	dir=$(readlink -f "$1")
	[ -d "$dir" ] || die "not a folder: $1"
	[ -n "$ROOT" ] || return 0
	is_mounted "$ROOT$dir" && return 0
	do_mount "$ROOT$dir" --bind "$dir"
}

bind_extra() {
	local extra b
	IFS=: read -ra extra <<<"${LUMARK_HOST_BIND:-}"
	for b in "${extra[@]}"; do [ -n "$b" ] && bind_same_path "$b"; done
	return 0
}

mount_base() { # mount_base ROOTDIR
	local r=$1
	[ -n "$r" ] || return 0
	is_mounted "$r/proc" || do_mount "$r/proc" -t proc proc
	is_mounted "$r/dev" || do_mount "$r/dev" --bind /dev
	is_mounted "$r/dev/shm" || do_mount "$r/dev/shm" -t tmpfs -o mode=1777,nosuid,nodev shm
	cp -L /etc/resolv.conf "$r/etc/resolv.conf" 2>/dev/null || true
}

mount_src() { # the tree at /src, read-only
	[ -n "$ROOT" ] || return 0
	if ! is_mounted "$ROOT/src"; then
		do_mount "$ROOT/src" --bind "$SRC"
		mount -o remount,bind,ro "$ROOT/src"
	fi
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
	for d in /tmp/lumark-host-x.*; do
		[ -d "$d" ] || continue
		owner=${d#/tmp/lumark-host-x.}
		owner=${owner%%.*}
		kill -0 "$owner" 2>/dev/null || rm -rf --one-file-system "$d"
	done
	for f in $(grep -lz '^LUMARK_HOST_RUN=' /proc/[0-9]*/environ 2>/dev/null || true); do
		m=$(tr '\0' '\n' 2>/dev/null <"$f" | grep -m1 '^LUMARK_HOST_RUN=' || true)
		owner=${m#LUMARK_HOST_RUN=}
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
		# Never follow a mount into the machine while deleting.
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

# in_host [VAR=VALUE...] CMD... : a clean environment plus the marker, inside the chroot if any
in_host() {
	local env=(/usr/bin/env -i "$MARKER" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
		HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive)
	if [ -n "$ROOT" ]; then
		chroot "$ROOT" "${env[@]}" "$@"
	else
		"${env[@]}" HOME="${HOME:-/root}" ${DISPLAY:+DISPLAY="$DISPLAY"} "$@"
	fi
}

with_lock() { # exclusive lock on the cache for changes to the host
	mkdir -p "$CACHE"
	exec 9>"$CACHE/lock"
	if ! flock -w 1200 9; then die "another run holds $CACHE/lock"; fi
}
unlock() { flock -u 9; exec 9>&-; }

# --- prepare -----------------------------------------------------------------------------------

prepare() {
	if [ "$HOST_ROOT" != chroot ]; then
		local missing=() p
		for p in $HOST_PACKAGES; do
			dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
		done
		[ ${#missing[@]} = 0 ] || die "missing packages: ${missing[*]} (scripts/install-deps.sh installs them)"
		return 0
	fi
	with_lock
	end_orphans
	local stamp="$ROOT/.lumark-packages" start new
	start=$(date +%s)
	if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$HOST_PACKAGES" ]; then
		unlock
		return 0
	fi
	command -v debootstrap >/dev/null || {
		log "installing debootstrap on the machine"
		apt-get install -y --no-install-recommends debootstrap >/dev/null
	}
	if [ ! -d "$ROOT" ]; then
		new=$CACHE/rootfs.new
		if [ -e "$new" ]; then
			findmnt -rn -o TARGET | grep -q "^$new" && die "$new still has mounts"
			rm -rf --one-file-system "$new"
		fi
		local script=()
		[ -n "$HOST_DEBOOTSTRAP_SCRIPT" ] && script=("/usr/share/debootstrap/scripts/$HOST_DEBOOTSTRAP_SCRIPT")
		log "debootstrap $HOST_SUITE into $new"
		debootstrap --variant=minbase "$HOST_SUITE" "$new" "$MIRROR" "${script[@]}" >"$CACHE/debootstrap.log" 2>&1 ||
			die "debootstrap failed, see $CACHE/debootstrap.log"
		log "debootstrap took $(($(date +%s) - start)) s"
		install_packages "$new"
		mv "$new" "$ROOT"
	else
		install_packages "$ROOT"
	fi
	echo "$HOST_PACKAGES" >"$stamp"
	log "chroot ready in $(($(date +%s) - start)) s"
	unlock
}

install_packages() { # install_packages ROOTDIR
	local r=$1 m t0
	local first=${#MOUNTS[@]}
	t0=$(date +%s)
	mount_base "$r"
	log "apt-get install $HOST_PACKAGES"
	# shellcheck disable=SC2086
	chroot "$r" /usr/bin/env -i "$MARKER" PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
		DEBIAN_FRONTEND=noninteractive sh -c \
		"apt-get $HOST_APT_OPTIONS update -q && apt-get install -y -q --no-install-recommends $HOST_PACKAGES && apt-get clean" \
		>"$CACHE/apt.log" 2>&1 || die "apt-get failed, see $CACHE/apt.log"
	end_processes "$MARKER"
	log "apt-get took $(($(date +%s) - t0)) s"
	# The chroot may be renamed next; unmount what was mounted for apt.
	for ((m = ${#MOUNTS[@]} - 1; m >= first; m--)); do
		umount "${MOUNTS[m]}" || umount -l "${MOUNTS[m]}"
		unset 'MOUNTS[m]'
	done
	MOUNTS=("${MOUNTS[@]}")
}

# --- build -------------------------------------------------------------------------------------

# The build's warnings (compiler and CMake) end up in $CACHE/build-warnings.txt; the build of a
# host must have none.
build() {
	local start src=/src libobs
	start=$(date +%s)
	if [ -n "$ROOT" ]; then
		with_lock
		mount_base "$ROOT"
		mount_src
	else
		src=$SRC
		mkdir -p "$CACHE"
	fi
	libobs=$(in_host dpkg-query -W -f '${Version}' libobs-dev)
	log "building the Qt $HOST_QT variant against libobs $libobs"
	local ccache=()
	[ -z "$ROOT" ] || ccache=(CCACHE_DIR=/var/cache/ccache)
	# A chroot host's build is also the one its packages are made from (scripts/package.sh), so it
	# uses Debian's own build flags, hardening included; the machine's host shares the unit tests'.
	local flags='' type=RelWithDebInfo
	if [ -n "$ROOT" ]; then
		in_host sh -c 'command -v dpkg-buildflags >/dev/null && command -v file >/dev/null' ||
			in_host sh -c 'apt-get install -y -q --no-install-recommends dpkg-dev file >/dev/null 2>&1'
		flags='export DEB_BUILD_MAINT_OPTIONS=hardening=+all; eval "$(dpkg-buildflags --export=sh)"
			export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"'
		type=None
	fi
	in_host "${ccache[@]}" CCACHE_BASEDIR="$src" sh -c "
		set -e
		$flags
		if ! grep -q '^LUMARK_QT_VERSION:STRING=$HOST_QT\$' $BUILD_DIR/CMakeCache.txt 2>/dev/null ||
			! grep -q '^LUMARK_WERROR:BOOL=ON\$' $BUILD_DIR/CMakeCache.txt ||
			{ [ -n '$ROOT' ] && ! grep -q '^CMAKE_BUILD_TYPE:STRING=$type\$' $BUILD_DIR/CMakeCache.txt; }; then
			# The flags are taken at the first configure only.
			[ -z '$ROOT' ] || rm -rf $BUILD_DIR
			cmake -S $src -B $BUILD_DIR -DLUMARK_QT_VERSION=$HOST_QT -DLUMARK_WERROR=ON \
				-DCMAKE_BUILD_TYPE=$type -DCMAKE_INSTALL_PREFIX=$INSTALL_DIR
		fi
		cmake --build $BUILD_DIR -j2 --target lumark-button
		rm -rf $INSTALL_DIR
		mkdir -p $INSTALL_DIR
		cmake --install $BUILD_DIR --prefix $INSTALL_DIR >/dev/null
		ldd $INSTALL_DIR/lumark-button/bin/64bit/lumark-button.so | grep -q libQt${HOST_QT}Core
		test -f $INSTALL_DIR/lumark-button/data/locale/en-US.ini
		# The suite's stand-in for the companion camera plug-in, against this libobs.
		cc -shared -fPIC -O1 -Wall -I/usr/include/obs -o $VANTOR_SO $src/tests/vantor/vantor-standin.c -lobs
	" >"$CACHE/build.log" 2>&1 || {
		tail -n 40 "$CACHE/build.log" >&2
		die "build failed, see $CACHE/build.log"
	}
	grep -E 'warning:|CMake Warning|CMake Deprecation Warning' "$CACHE/build.log" >"$CACHE/build-warnings.txt" || true
	if [ -s "$CACHE/build-warnings.txt" ]; then
		log "WARNINGS in the build (full log $CACHE/build.log):"
		cat "$CACHE/build-warnings.txt" >&2
	fi
	BUILD_SECONDS=$(($(date +%s) - start))
	log "built in $BUILD_SECONDS s"
	[ -z "$ROOT" ] || unlock
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

# An isolated OBS home as this host reads it: no first-run wizard, simple output with the replay
# buffer on, the host's recording format, websocket on PORT without a password.
write_home() { # write_home HOME PORT OUTPUT_DIR
	local h=$1 port=$2 out=$3
	obs_home_write "$h" "$out" 640x360 "$port" <<EOF
$HOST_RECORD_FORMAT_KEY=$HOST_RECORD_FORMAT
RecQuality=Small
StreamEncoder=x264
VBitrate=1000
ABitrate=128
RecRBTime=10
RecRBSize=256
RecRBPrefix=Replay
EOF
	[ "$HOST_PROFILE_INI" = global.ini ] || cp "$h/obs-studio/global.ini" "$h/obs-studio/$HOST_PROFILE_INI"
	[ "$HOST_WEBSOCKET_CONFIG" != json ] || write_websocket_config "$h" "$port"
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

# X display numbers are shared with the machine through abstract sockets; pick one nobody uses.
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

# start_obs HOME ARGS... : runs OBS in the background; sets OBS_JOB.
# OBS_OUTPUT, when set, receives OBS's own stdout and stderr (its log is in the home anyway).
start_obs() {
	local h=$1 display xtmp
	shift
	if [ -n "${OBS_OUTPUT:-}" ]; then exec 8>"$OBS_OUTPUT"; else exec 8>&1; fi
	display=$(free_display)
	# xvfb-run keeps its Xauthority in a temporary folder that it cannot remove when it is killed;
	# give it one of ours (the chroot shares /tmp), removed by cleanup or by a later run.
	xtmp=$(mktemp -d "/tmp/lumark-host-x.$$.XXXXXX")
	TEMP_DIRS+=("$xtmp")
	# shellcheck disable=SC2086
	in_host TMPDIR="$xtmp" XDG_CONFIG_HOME="$h" QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 \
		${TZ:+TZ="$TZ"} \
		"${PASS_ENV[@]}" xvfb-run -a -n "$display" -s "-screen 0 1280x720x24 -nolisten tcp" \
		obs --multi --disable-missing-files-check --verbose --websocket_ipv4_only $HOST_OBS_ARGS \
		"$@" >&8 2>&8 &
	OBS_JOB=$!
	exec 8>&-
}

# The obs process of this run (started under xvfb-run).
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
		if out=$(node "$SRC/scripts/lib/ws-check.mjs" "$1" "$HOST_OBS_VERSION" 3000 2>&1); then
			log "websocket from the machine: $out"
			return 0
		fi
		sleep 1
	done
	log "websocket on port $1 did not answer within $2 s (last: $out)"
	return 1
}

obs_log_file() { ls -t "$1"/obs-studio/logs/*.txt 2>/dev/null | head -n 1 || true; }

# Closes OBS's main window through the X server, as a window manager would, so OBS runs its exit
# events; OBS 29 closes its window from inside its SIGINT handler, which can deadlock in Xlib.
close_window() { # close_window PID
	local display xauth
	display=$(tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | sed -n 's/^DISPLAY=//p')
	xauth=$(tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | sed -n 's/^XAUTHORITY=//p')
	[ -n "$display" ] || return 1
	env -i PATH="$PATH" DISPLAY="$display" ${xauth:+XAUTHORITY="$xauth"} \
		timeout 10 python3 "$SRC/tests/e2e/close-window.py" >/dev/null 2>&1
}

stop_obs() { # the window closed, else SIGINT; then wait for OBS's process tree
	local i how=${1:-int}
	OBS_PID=$(find_obs_pid || true)
	if [ -n "$OBS_PID" ]; then
		if [ "$how" = window ] && close_window "$OBS_PID"; then
			for i in $(seq 300); do kill -0 "$OBS_PID" 2>/dev/null || break; sleep 0.1; done
		fi
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

load_line() {
	local v b
	[ -f "$VERSION_HEADER" ] || die "no $VERSION_HEADER (the build was not configured)"
	v=$(sed -n 's/^#define LUMARK_VERSION "\(.*\)"$/\1/p' "$VERSION_HEADER")
	b=$(sed -n 's/^#define LUMARK_BUILD "\(.*\)"$/\1/p' "$VERSION_HEADER")
	[ -n "$v" ] && [ -n "$b" ] || die "no version or build tag in $VERSION_HEADER"
	echo "[lumark] plugin loaded successfully (version $v, build $b)"
}

host_env() { # the LUMARK_E2E_* variables every command on this host gets
	echo LUMARK_E2E_HOST="$HOST" LUMARK_E2E_OBS_VERSION="$HOST_OBS_VERSION" \
		LUMARK_E2E_RECORD_FORMAT="$HOST_RECORD_FORMAT" LUMARK_E2E_EXIT_MAY_CRASH="$HOST_EXIT_MAY_CRASH"
}

# check / exec: one OBS run around an optional command on the machine.
run_session() {
	local port=${LUMARK_HOST_PORT:-$(free_port)} h out logf rc=0 t0 loaded
	prepare
	build
	loaded=$(load_line)
	mount_base "$ROOT"
	bind_same_path /tmp
	h=$(mktemp -d /tmp/lumark-host.XXXXXX)
	[ "${LUMARK_HOST_KEEP:-}" = 1 ] && log "OBS home kept: $h" || TEMP_DIRS+=("$h")
	out=$h/recordings
	write_home "$h" "$port" "$out"
	install_plugin "$h"
	bind_extra

	t0=$(date +%s.%N)
	log "starting OBS $HOST_OBS_VERSION (websocket port $port, home $h)"
	OBS_OUTPUT=$h/obs-output.txt start_obs "$h" --profile CI --collection CI --websocket_port "$port"
	local up=0
	if wait_websocket "$port" "${LUMARK_HOST_TIMEOUT:-180}"; then
		log "OBS answered after $(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN{printf "%.1f", b-a}') s"
		up=1
	else
		rc=1
	fi
	logf=$(obs_log_file "$h")
	if [ -s "$CACHE/build-warnings.txt" ]; then
		log "the build had warnings ($CACHE/build-warnings.txt)"
		rc=1
	fi
	if [ "$up" = 1 ]; then
		check_log "$logf" "$loaded" || rc=1
		if [ $# -gt 0 ]; then
			log "running: $*"
			set +e
			# shellcheck disable=SC2046
			env $(host_env) LUMARK_E2E_WS_PORT="$port" LUMARK_E2E_WS_URL="ws://127.0.0.1:$port" \
				LUMARK_E2E_OBS_HOME="$h" LUMARK_E2E_OBS_LOG="$logf" LUMARK_E2E_VERSION_HEADER="$VERSION_HEADER" \
				LUMARK_E2E_PLUGIN_CONFIG="$h/obs-studio/plugin_config/lumark-button" \
				LUMARK_E2E_RECORD_DIR="$out" \
				LUMARK_E2E_OBS_LAUNCHER="$SELF $HOST obs" LUMARK_E2E_FFPROBE="$SELF $HOST run ffprobe" \
				"$@"
			local cmd_rc=$?
			set -e
			[ "$cmd_rc" = 0 ] || {
				log "command failed with status $cmd_rc"
				rc=$cmd_rc
			}
		fi
	fi
	log "asking OBS to exit"
	stop_obs window || rc=1
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
	case "${1:-}" in
	--help | -h | --version | -V)
		[ -z "$ROOT" ] || mount_base "$ROOT"
		in_host obs "$@"
		return
		;;
	esac
	[ -n "$h" ] && [ -d "$h" ] || die "set XDG_CONFIG_HOME to an existing OBS home"
	h=$(readlink -f "$h")
	if [ "${LUMARK_HOST_NO_BUILD:-}" = 1 ] && [ -f "$ROOT$INSTALL_DIR/lumark-button/bin/64bit/lumark-button.so" ]; then
		[ -z "$ROOT" ] || end_orphans # built once by the caller for a whole suite
	else
		prepare
		build
	fi
	# The caller's locale, time zone and OBS/Qt settings reach OBS; nothing else of the machine.
	for name in $(compgen -e); do
		case "$name" in
		LANG | LC_* | TZ | OBS_* | QT_* | LIBGL_*) PASS_ENV+=("$name=${!name}") ;;
		esac
	done
	mount_base "$ROOT"
	bind_same_path /tmp
	bind_same_path "$h"
	bind_extra
	# A suite (LUMARK_HOST_NO_BUILD=1) installs the build into its homes itself, or leaves it out.
	[ "${LUMARK_HOST_NO_BUILD:-}" = 1 ] || install_plugin "$h"
	if [ "$HOST_WEBSOCKET_CONFIG" = json ] && [ ! -f "$h/obs-studio/plugin_config/obs-websocket/config.json" ]; then
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

# The end-to-end suite of this tree against this host. Each OBS start of the harness goes through
# this script's launcher (own mount namespace), so this outer run holds no mounts meanwhile.
run_e2e() {
	local figures=${LUMARK_E2E_REPORT:-$CACHE/e2e-figures.txt} tests=() f rc=0
	[ -f "$SRC/tests/e2e/harness.mjs" ] || die "no end-to-end suite in $SRC/tests/e2e"
	prepare
	build
	unmount_all
	# Test files among ARGS pick those files; other ARGS go to node --test.
	local opts=()
	for f in "$@"; do
		case "$f" in
		*.test.mjs) tests+=("$(readlink -f "$f")") ;;
		*) opts+=("$f") ;;
		esac
	done
	if [ ${#tests[@]} = 0 ]; then
		for f in "$SRC"/tests/e2e/*.test.mjs; do [ -f "$f" ] && tests+=("$f"); done
	fi
	(
		cd "$SRC/tests/e2e"
		if [ ! -d node_modules/obs-websocket-js ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
			npm ci --no-audit --no-fund >&2
		fi
	)
	rm -f "$figures"
	local vantor=()
	[ -f "$ROOT$VANTOR_SO" ] && vantor=(LUMARK_E2E_VANTOR_SO="$ROOT$VANTOR_SO")
	local t0
	t0=$(date +%s)
	# On the machine itself the harness starts obs under xvfb-run as it is; a chroot host's OBS
	# starts through this script's launcher.
	local launcher=()
	[ -z "$ROOT" ] || launcher=(LUMARK_E2E_OBS_LAUNCHER="$SELF $HOST obs")
	# shellcheck disable=SC2046
	env -u LUMARK_HOST_NS LUMARK_HOST_NO_BUILD=1 $(host_env) "${launcher[@]}" LUMARK_E2E_FFPROBE="$SELF $HOST run ffprobe" \
		LUMARK_E2E_PLUGIN_DIR="$ROOT$INSTALL_DIR/lumark-button" LUMARK_E2E_VERSION_HEADER="$VERSION_HEADER" \
		LUMARK_E2E_REPORT="$figures" LUMARK_E2E_HOST_ROOT="$ROOT" "${vantor[@]}" \
		timeout --signal=TERM --kill-after=30 "${LUMARK_E2E_TIMEOUT:-1800}" \
		node --test --test-concurrency=1 --test-reporter=spec "${opts[@]}" "${tests[@]}" &
	RUNNER_PID=$!
	wait "$RUNNER_PID" || rc=$?
	RUNNER_PID=""
	[ "$rc" = 124 ] && log "the suite ran over ${LUMARK_E2E_TIMEOUT:-1800} s"
	if [ -s "$CACHE/build-warnings.txt" ]; then
		log "FAIL: the build had warnings ($CACHE/build-warnings.txt)"
		[ "$rc" != 0 ] || rc=1
	fi
	log "e2e suite: status $rc after $(($(date +%s) - t0)) s"
	printf 'host timings (s):\n  build                                       %s\n  suite                                       %s\n' \
		"${BUILD_SECONDS:-0}" "$(($(date +%s) - t0))" >>"$figures"
	echo
	echo "$HOST_TITLE:"
	cat "$figures"

	return "$rc"
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
cpack)
	prepare
	build
	[ -n "$ROOT" ] || die "cpack: only chroot hosts; scripts/package.sh builds for the machine itself"
	with_lock
	mount_base "$ROOT"
	mount_src
	in_host sh -c "cd $BUILD_DIR && rm -rf packages && cpack >cpack.log 2>&1" || {
		tail -n 20 "$ROOT$BUILD_DIR/cpack.log" >&2
		die "cpack failed, see $ROOT$BUILD_DIR/cpack.log"
	}
	unlock
	echo "$ROOT$BUILD_DIR/packages"
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
	mount_src
	bind_same_path /tmp
	bind_extra
	if [ "$cmd" = shell ]; then in_host bash; else in_host "$@"; fi
	;;
*) die "unknown command: $cmd (check, prepare, build, cpack, exec, e2e, obs, run, shell)" ;;
esac
