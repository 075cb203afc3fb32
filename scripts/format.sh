#!/usr/bin/env bash
# clang-format over the C and C++ code of src/, tests/ and bench/ with the tree's .clang-format
# (Debian 12's clang-format 14; another version may format differently).
# Usage: scripts/format.sh            reformat in place
#        scripts/format.sh --check    change nothing; list each difference and fail if there is one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(find src tests bench -name node_modules -prune -o -type f \
	\( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print | sort)
[ ${#files[@]} -gt 0 ] || { echo "format: no C or C++ files found" >&2; exit 1; }
case "${1:-}" in
--check)
	if ! clang-format --dry-run --Werror "${files[@]}"; then
		echo "format: the files above are not clang-format'ed; scripts/format.sh fixes them" >&2
		exit 1
	fi
	echo "format: ${#files[@]} files clang-format'ed"
	;;
"") clang-format -i "${files[@]}" ;;
*)
	echo "usage: $0 [--check]" >&2
	exit 2
	;;
esac
