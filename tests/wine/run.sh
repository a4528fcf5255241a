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
helper_pids=()
cleanup() {
    [ ${#helper_pids[@]} -gt 0 ] && kill "${helper_pids[@]}" 2>/dev/null
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

# The install helper: a "PluginData" release and the two items of its runs beside the game release,
# and its launcher server role twice: answering with the download server, and without it.
start_helper_role() {
    local port_file=$1
    shift
    python3 "$root/tools/devservers/helper_settings.py" --keys "$KR_SIGNATURE_KEYS" --port-file "$port_file" \
        --parent-pid $$ "$@" >/dev/null &
    helper_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$port_file" ] && return 0
        sleep 0.1
    done
    return 1
}
if [ -n "${KR_SIGNATURE_KEYS:-}" ]; then
    python3 - "$work/plugin-image" "$work/www" <<'PY' || exit 1
import os, random, sys, zipfile
image, www = sys.argv[1], sys.argv[2]
rng = random.Random(11)
os.makedirs(os.path.join(image, "Data", "kvplugin"), exist_ok=True)
for i in range(3):
    with open(os.path.join(image, "Data", "kvplugin", "kvp_%d.dat" % i), "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(20000 + i)))
with open(os.path.join(www, "KelvaneRuntimeBrowserDLL.krzi"), "wb") as f:
    f.write(bytes(rng.getrandbits(8) for _ in range(30000)))
with zipfile.ZipFile(os.path.join(www, "KelvaneRuntimeMMO.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("KelvaneRuntimeMMO.exe", b"MZ runtime " * 500)
PY
    "$host_bin/kr-pack" "$work/plugin-image" "$work/www" --package PluginData >/dev/null || exit 1
    start_helper_role "$work/helper.port" --download-server "$KR_TEST_DOWNLOAD_SERVER" || exit 1
    start_helper_role "$work/helper-bare.port" --settings=-Motd=welcome || exit 1
    export KR_TEST_HELPER_LAUNCHER_SERVER="http://127.0.0.1:$(cat "$work/helper.port")"
    export KR_TEST_HELPER_BARE_SERVER="http://127.0.0.1:$(cat "$work/helper-bare.port")"
    export KR_TEST_PLUGIN_IMAGE="$work/plugin-image"
fi

kr_wine_prepare
wine "$exe" "$@"
