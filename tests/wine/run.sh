#!/usr/bin/env bash
# Runs the Windows test program under Wine with the servers its integration tests need: nginx
# serving a release packed by the native kr-pack from a generated game folder.
#   run.sh PATH/TO/kr_win_tests.exe [gtest arguments]
# KR_HOST_BIN names the native build's bin/ (default: build/host/bin of this checkout).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exe=$1
shift
host_bin=${KR_HOST_BIN:-$root/build/host/bin}

# shellcheck source=../../scripts/lib/wine-env.sh
source "$root/scripts/lib/wine-env.sh"
# shellcheck source=../../scripts/lib/nginx.sh
source "$root/scripts/lib/nginx.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kr-wine-tests.XXXXXX")
cleanup() {
    kr_nginx_stop "$work/nginx"
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -x "$host_bin/kr-pack" ]; then
    echo "run.sh: $host_bin/kr-pack is missing; build the host preset first" >&2
    exit 1
fi
python3 "$root/tools/sample-game/make_game.py" "$work/image" --files 60 --total-mb 4 --seed 7 >/dev/null || exit 1
"$host_bin/kr-pack" "$work/image" "$work/www" --package-size 1 >/dev/null || exit 1
kr_nginx_start "$work/www" "$work/nginx" || exit 1

export KR_TEST_DOWNLOAD_SERVER="127.0.0.1:$KR_NGINX_PORT"
export KR_TEST_RELEASE_IMAGE="$work/image"
export KR_TEST_RELEASE_WWW="$work/www"

kr_wine_prepare
wine "$exe" "$@"
