#!/usr/bin/env bash
# Everything the build, the unit tests and the end-to-end runs need, from Debian 12's archive.
set -euo pipefail
packages=(
	cmake g++ make ccache pkg-config
	libobs-dev obs-studio
	libavformat-dev libavcodec-dev libavutil-dev
	qtbase5-dev qtbase5-private-dev qt6-base-dev
	libgtest-dev libgmock-dev googletest libbenchmark-dev
	xvfb xauth x11-utils libgl1-mesa-dri
	ffmpeg nginx-light libnginx-mod-rtmp
	clang-format
	dpkg-dev lintian debootstrap
	clang libclang-rt-14-dev
)
missing=()
# The machine image may bring its own Node.js (with npm); only fall back to Debian's.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
for p in "${packages[@]}"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
	sudo_cmd=""
	[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
	$sudo_cmd apt-get update -qq
	DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
