#!/usr/bin/env bash
# The plug-in's packages for one tested host, made by CPack from the normal CMake build, into
# dist/HOST/:
#   lumark-button_VERSION-1+obsOBS_amd64.deb                  system-wide, installed with apt
#   lumark-button-VERSION-obsOBS-qtN-linux-x86_64.tar.gz      the per-user plug-in folder
#
# Usage: scripts/package.sh HOST [build|test|all]      (as root; default: all = build, then test)
#   HOST   obs29  Debian 12 "bookworm", OBS 29.0.2, Qt 5: built on this machine
#          obs30  Debian 13 "trixie", OBS 30.2.3, Qt 6: built inside that host's chroot
#          obs32  Debian "forky", OBS 32.2.2, Qt 6: built inside that host's chroot
#   build  configure with Debian's build flags, build, cpack, then lintian (errors fail); a chroot
#          host packs its own build (scripts/host.sh HOST cpack), the one its e2e suite tested
#   test   tests/e2e/package/package.test.mjs in a throwaway copy of the host's Debian: an overlay
#          over its cached chroot, dropped afterwards. Neither this machine's OBS (and the other
#          OBS runs on it) nor the cached chroot ever see the installed package.
#
# The Debian 12 chroot for the test is made once (debootstrap, about 2 minutes) and kept in
# LUMARK_PKG_CACHE (default /var/cache/lumark-pkg); the other hosts' chroots are their runner's.
set -euo pipefail

SELF=$(readlink -f "${BASH_SOURCE[0]}")
SRC=$(cd "$(dirname "$SELF")/.." && pwd)
CACHE=${LUMARK_PKG_CACHE:-/var/cache/lumark-pkg}
MIRROR=${LUMARK_PKG_MIRROR:-http://deb.debian.org/debian}

log() { printf '[package %s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }
die() {
	log "ERROR: $*"
	exit 1
}

[ $# -ge 1 ] || die "usage: scripts/package.sh obs29|obs30|obs32 [build|test|all]"
HOST=$1
CMD=${2:-all}
case "$HOST" in
obs29) QT=5 ;;
obs30 | obs32) QT=6 ;;
*) die "unknown host $HOST (obs29, obs30, obs32)" ;;
esac
DIST=$SRC/dist/$HOST
BUILD=$SRC/build-pkg-$HOST
[ "$(id -u)" = 0 ] || die "run as root (chroot, mounts)"

# --- the host's Debian -------------------------------------------------------------------------

# The runner of the chroot hosts; the tree is mounted writable at its own path for the build.
host_runner() { # host_runner COMMAND ARGS...
	LUMARK_HOST_BIND=$SRC "$SRC/scripts/host.sh" "$HOST" "$@"
}

# The host's cached chroot, as its runner keeps it (scripts/hosts/HOST names the cache).
host_rootfs() {
	local HOST_CACHE=""
	case "$HOST" in
	obs29) echo "$CACHE/bookworm/rootfs" ;;
	*)
		[ -f "$SRC/scripts/hosts/$HOST" ] && HOST_CACHE=$(. "$SRC/scripts/hosts/$HOST" && echo "${HOST_CACHE:-}")
		[ -n "$HOST_CACHE" ] || { [ "$HOST" = obs30 ] && HOST_CACHE=/var/cache/lumark-host2; }
		echo "${HOST_CACHE:-/var/cache/lumark-$HOST}/rootfs"
		;;
	esac
}

# The Debian 12 chroot of the test: OBS and an X server, nothing of ours.
BOOKWORM_PACKAGES="obs-studio xvfb xauth"
prepare_bookworm() {
	local root=$CACHE/bookworm/rootfs new=$CACHE/bookworm/rootfs.new
	mkdir -p "$CACHE/bookworm"
	exec 9>"$CACHE/bookworm/lock"
	flock -w 900 9 || die "another run holds $CACHE/bookworm/lock"
	if [ -f "$root/.lumark-pkg-packages" ] && [ "$(cat "$root/.lumark-pkg-packages")" = "$BOOKWORM_PACKAGES" ]; then
		exec 9>&-
		return 0
	fi
	command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap >/dev/null
	findmnt -rn -o TARGET | grep -q "^$new" && die "$new still has mounts"
	rm -rf --one-file-system "$new" "$root"
	log "debootstrap bookworm into $new"
	debootstrap --variant=minbase bookworm "$new" "$MIRROR" >"$CACHE/bookworm/debootstrap.log" 2>&1 ||
		die "debootstrap failed, see $CACHE/bookworm/debootstrap.log"
	(
		mount -t proc proc "$new/proc"
		mount --bind /dev "$new/dev"
		trap 'umount "$new/dev" "$new/proc"' EXIT
		cp -L /etc/resolv.conf "$new/etc/resolv.conf"
		log "apt-get install $BOOKWORM_PACKAGES"
		# The package lists stay: the test's apt-get install ./x.deb resolves against them.
		chroot "$new" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
			DEBIAN_FRONTEND=noninteractive sh -c \
			"apt-get update -q && apt-get install -y -q --no-install-recommends $BOOKWORM_PACKAGES && apt-get clean" \
			>"$CACHE/bookworm/apt.log" 2>&1
	) || die "apt-get failed, see $CACHE/bookworm/apt.log"
	echo "$BOOKWORM_PACKAGES" >"$new/.lumark-pkg-packages"
	mv "$new" "$root"
	exec 9>&-
}

prepare_host() {
	if [ "$HOST" = obs29 ]; then
		prepare_bookworm
	elif [ ! -x "$(host_rootfs)/usr/bin/obs" ]; then
		host_runner prepare # a made chroot is used as it is: its runner's lock waits for builds
	fi
	[ -x "$(host_rootfs)/usr/bin/obs" ] || die "no OBS in $(host_rootfs)"
}

# --- build -------------------------------------------------------------------------------------

# Configure, build and pack; runs here for obs29 and inside the host's chroot for the others.
# Debian's own build flags (hardening included) as dpkg-buildflags gives them.
BUILD_SCRIPT='
set -e
src=$1 build=$2 qt=$3
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
if ! grep -q "^LUMARK_QT_VERSION:STRING=$qt\$" "$build/CMakeCache.txt" 2>/dev/null; then
	cmake -S "$src" -B "$build" -DLUMARK_QT_VERSION=$qt -DLUMARK_WERROR=ON -DCMAKE_BUILD_TYPE=None >/dev/null
fi
cmake --build "$build" -j2 --target lumark-button
rm -rf "$build/packages"
cd "$build" && cpack >/dev/null
'

build() {
	local start=$(date +%s)
	export CCACHE_BASEDIR=$SRC
	if [ "$HOST" = obs29 ]; then
		command -v dpkg-buildflags >/dev/null || apt-get install -y --no-install-recommends dpkg-dev >/dev/null
		log "building the Qt 5 variant against libobs $(dpkg-query -W -f '${Version}' libobs-dev)"
		bash -c "$BUILD_SCRIPT" build "$SRC" "$BUILD" "$QT"
	else
		prepare_host
		# dpkg-shlibdeps (with file, which CPack uses to find the binaries) computes the package's
		# library dependencies inside the host's Debian.
		[ -x "$(host_rootfs)/usr/bin/dpkg-shlibdeps" ] && [ -x "$(host_rootfs)/usr/bin/file" ] ||
			host_runner run sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends dpkg-dev file >/dev/null 2>&1'
		# The host's own build, which its end-to-end suite has just tested (rebuilt if the tree moved on).
		log "packing the Qt 6 build of the $HOST host"
		BUILD=$(dirname "$(host_runner cpack | tail -n 1)")
		[ -d "$BUILD/packages" ] || die "no packages from the $HOST host's build"
	fi
	rm -rf "$DIST"
	mkdir -p "$DIST"
	cp "$BUILD"/packages/*.deb "$BUILD"/packages/*.tar.gz "$DIST/"
	# The version and build tag the test expects the loaded plug-in to report.
	cp "$BUILD/generated/LumarkVersion.h" "$DIST/"
	command -v lintian >/dev/null || apt-get install -y --no-install-recommends lintian >/dev/null
	log "lintian $(basename "$DIST"/*.deb)"
	# Errors fail the build; warnings and notes are shown.
	lintian --fail-on error "$DIST"/*.deb ||
		die "lintian found errors"
	log "built in $(($(date +%s) - start)) s: $(cd "$DIST" && echo *)"
}

# --- test --------------------------------------------------------------------------------------

# Mounts live in a private mount namespace: the kernel drops them even if this script is killed.
test_packages() {
	if [ -z "${LUMARK_PKG_NS:-}" ]; then
		LUMARK_PKG_NS=1 exec unshare --mount --propagation private "$SELF" "$HOST" test
	fi
	local deb tarball lower t rc=0
	deb=$(ls "$DIST"/*.deb 2>/dev/null | head -n 1)
	tarball=$(ls "$DIST"/*.tar.gz 2>/dev/null | head -n 1)
	[ -n "$deb" ] && [ -n "$tarball" ] || die "no packages in $DIST (scripts/package.sh $HOST build)"
	prepare_host
	lower=$(host_rootfs)
	t=$(mktemp -d /tmp/lumark-pkg-test.XXXXXX)
	export LUMARK_PKG_RUN="$$.$(date +%s%N)"
	# shellcheck disable=SC2064
	trap "cleanup_test '$t'" EXIT
	trap 'exit 130' INT
	trap 'exit 143' TERM
	mkdir -p "$t/upper" "$t/work" "$t/root"
	mount -t overlay overlay -o "lowerdir=$lower,upperdir=$t/upper,workdir=$t/work" "$t/root"
	mount -t proc proc "$t/root/proc"
	mount --bind /dev "$t/root/dev"
	mount -t tmpfs -o mode=1777,nosuid,nodev shm "$t/root/dev/shm"
	mount --bind /tmp "$t/root/tmp"
	cp -L /etc/resolv.conf "$t/root/etc/resolv.conf"
	cp "$deb" "$tarball" "$t/"
	(
		cd "$SRC/tests/e2e"
		if [ ! -d node_modules/obs-websocket-js ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
			npm ci --no-audit --no-fund >&2
		fi
	)
	log "testing $(basename "$deb") and $(basename "$tarball") in a copy of $lower"
	# What the harness needs to know of the host (its OBS version, known exit faults).
	local HOST_OBS_VERSION HOST_EXIT_MAY_CRASH
	. "$SRC/scripts/hosts/$HOST"
	env LUMARK_E2E_OBS_LAUNCHER="$SRC/tests/e2e/package/obs-in-root" LUMARK_E2E_HOST=$HOST LUMARK_E2E_OBS_VERSION=$HOST_OBS_VERSION \
		LUMARK_E2E_EXIT_MAY_CRASH=$HOST_EXIT_MAY_CRASH LUMARK_E2E_VERSION_HEADER=$DIST/LumarkVersion.h \
		LUMARK_PKG_ROOT=$t/root LUMARK_PKG_HOST=$HOST \
		LUMARK_PKG_DEB=$t/$(basename "$deb") LUMARK_PKG_TARBALL=$t/$(basename "$tarball") \
		timeout --signal=TERM --kill-after=30 300 \
		node --test --test-concurrency=1 --test-reporter=spec "$SRC/tests/e2e/package/package.test.mjs" || rc=$?
	return "$rc"
}

cleanup_test() { # cleanup_test DIR: the test's processes, then its mounts, then its files
	local t=$1 pids m
	set +e
	pids=$(grep -lzxF -- "LUMARK_PKG_RUN=$LUMARK_PKG_RUN" /proc/[0-9]*/environ 2>/dev/null |
		sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' | grep -vx "$$")
	[ -n "$pids" ] && kill -KILL $pids 2>/dev/null && sleep 0.5
	for m in tmp dev/shm dev proc ""; do
		mountpoint -q "$t/root/$m" && { umount "$t/root/$m" || umount -l "$t/root/$m"; }
	done
	findmnt -rn -o TARGET | grep -q "^$t" || rm -rf --one-file-system "$t"
}

case "$CMD" in
prepare) prepare_host ;;
build) build ;;
test) test_packages ;;
all)
	build
	test_packages
	;;
*) die "unknown command $CMD (build, test, all)" ;;
esac
