#!/usr/bin/env bash
# Runs a test command with the local servers of the integration tests, all on loopback:
#   nginx serving a release packed by the native kr-pack from a generated game folder, plus the
#   launcher's four extra items, signed with the development key (KR_TEST_RELEASE_KEY);
#   the development launcher server and metrics receiver;
#   the install helper's launcher server roles (when KR_SIGNATURE_KEYS is set).
# Their addresses reach the tests as KR_TEST_* environment variables.
#   run_with_servers.sh COMMAND [ARGS...]
# KR_HOST_BIN names the native build's bin/ (default: build/host/bin of this checkout).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
host_bin=${KR_HOST_BIN:-$root/build/host/bin}

# shellcheck source=../../scripts/lib/nginx.sh
source "$root/scripts/lib/nginx.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kr-test-servers.XXXXXX")
server_pids=()
cleanup() {
    [ ${#server_pids[@]} -gt 0 ] && kill "${server_pids[@]}" 2>/dev/null
    kr_nginx_stop "$work/nginx"
    rm -rf "$work"
}
trap cleanup EXIT

# start_devserver SCRIPT PORT_FILE [ARGS...]: a development server that ends with this script.
start_devserver() {
    local script=$1 port_file=$2
    shift 2
    python3 "$root/tools/devservers/$script" --port-file "$port_file" --parent-pid $$ "$@" >/dev/null &
    server_pids+=($!)
    for _ in $(seq 100); do
        [ -s "$port_file" ] && return 0
        sleep 0.1
    done
    echo "run_with_servers.sh: $script did not start" >&2
    return 1
}

if [ ! -x "$host_bin/kr-pack" ]; then
    echo "run_with_servers.sh: $host_bin/kr-pack is missing; build the host preset first" >&2
    exit 1
fi
python3 "$root/tools/sample-game/make_game.py" "$work/image" --files 60 --total-mb 4 --seed 7 >/dev/null || exit 1
# The items the launcher adds to its game installation, fetched from the server's root.
mkdir -p "$work/www"
python3 - "$work/www" <<'PY' || exit 1
import os, sys, zipfile
www = sys.argv[1]
items = {
    "Splash.zip": {"Splash.bmp": b"BM" + bytes(200)},
    "QuorvaleOnlineLauncher.zip": {"QuorvaleOnlineLauncher.exe": b"MZ launcher " * 300},
    "KelvaneRuntimeMMO.zip": {"KelvaneRuntimeMMO.exe": b"MZ runtime " * 500},
    "ErrorPage.zip": {"general-error_no-twitter.html": b"<html><body>Error</body></html>"},
}
for name, entries in items.items():
    with zipfile.ZipFile(os.path.join(www, name), "w", zipfile.ZIP_DEFLATED) as z:
        for entry, data in entries.items():
            z.writestr(entry, data)
PY
# Signed with the development key, items included; engines without a key never ask for the manifest.
install -m 600 "$root/tools/keys/dev-release.key" "$work/dev-release.key"
"$host_bin/kr-pack" "$work/image" "$work/www" --package-size 1 --sign "$work/dev-release.key" \
    --item "$work/www/Splash.zip" --item "$work/www/QuorvaleOnlineLauncher.zip" \
    --item "$work/www/KelvaneRuntimeMMO.zip" --item "$work/www/ErrorPage.zip" >/dev/null || exit 1
export KR_TEST_RELEASE_KEY="$(head -c 64 "$root/tools/keys/dev-release.pub")"
python3 "$root/tools/sample-game/make_splash.py" "$work/Splash.bmp" || exit 1
export KR_TEST_SPLASH_BMP="$work/Splash.bmp"
kr_nginx_start "$work/www" "$work/nginx" || exit 1
export KR_TEST_DOWNLOAD_SERVER="127.0.0.1:$KR_NGINX_PORT"
export KR_TEST_RELEASE_IMAGE="$work/image"
export KR_TEST_RELEASE_WWW="$work/www"

# The same release from a server that cuts every transfer starting at a file's first byte after 60 %:
# only a client that resumes ever gets a whole file.
python3 "$root/tests/support/odd_server.py" --root "$work/www" --cut-fresh 0.6 --port-file "$work/cutting.port" \
    --parent-pid $$ >/dev/null &
server_pids+=($!)
for _ in $(seq 100); do [ -s "$work/cutting.port" ] && break; sleep 0.1; done
[ -s "$work/cutting.port" ] || { echo "run_with_servers.sh: the cutting server did not start" >&2; exit 1; }
export KR_TEST_CUTTING_SERVER="127.0.0.1:$(cat "$work/cutting.port")"

start_devserver launcher_server.py "$work/launcher.port" || exit 1
start_devserver metrics_receiver.py "$work/metrics.port" || exit 1
export KR_TEST_LAUNCHER_SERVER="http://127.0.0.1:$(cat "$work/launcher.port")"
export KR_TEST_METRICS_SERVER="http://127.0.0.1:$(cat "$work/metrics.port")"

# The install helper: a "PluginData" release and the two items of its runs beside the game release,
# and its launcher server role twice: answering with the download server, and without it.
if [ -n "${KR_SIGNATURE_KEYS:-}" ]; then
    python3 - "$work/plugin-image" "$work/www" <<'PY' || exit 1
import os, random, sys
image, www = sys.argv[1], sys.argv[2]
rng = random.Random(11)
os.makedirs(os.path.join(image, "Data", "kvplugin"), exist_ok=True)
for i in range(3):
    with open(os.path.join(image, "Data", "kvplugin", "kvp_%d.dat" % i), "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(20000 + i)))
with open(os.path.join(www, "KelvaneRuntimeBrowserDLL.krzi"), "wb") as f:
    f.write(bytes(rng.getrandbits(8) for _ in range(30000)))
PY
    "$host_bin/kr-pack" "$work/plugin-image" "$work/www" --package PluginData >/dev/null || exit 1
    start_devserver helper_settings.py "$work/helper.port" --keys "$KR_SIGNATURE_KEYS" \
        --download-server "$KR_TEST_DOWNLOAD_SERVER" || exit 1
    start_devserver helper_settings.py "$work/helper-bare.port" --keys "$KR_SIGNATURE_KEYS" \
        --settings=-Motd=welcome || exit 1
    export KR_TEST_HELPER_LAUNCHER_SERVER="http://127.0.0.1:$(cat "$work/helper.port")"
    export KR_TEST_HELPER_BARE_SERVER="http://127.0.0.1:$(cat "$work/helper-bare.port")"
    export KR_TEST_PLUGIN_IMAGE="$work/plugin-image"
fi

# A server that answers the install helper with too much, or too slowly.
mkdir -p "$work/odd"
python3 - "$work/odd" <<'PY' || exit 1
import os, sys
odd = sys.argv[1]
cap = 8 << 20
with open(os.path.join(odd, "fits"), "wb") as f:
    f.write(b"a" * cap)
with open(os.path.join(odd, "data"), "wb") as f:
    f.write(b"-DownloadServer=" + os.environ.get("KR_TEST_DOWNLOAD_SERVER", "x").encode() + b" " + b"a" * cap)
with open(os.path.join(odd, "slow"), "wb") as f:
    f.write(b"b" * 60000)
PY
python3 "$root/tests/support/odd_server.py" --root "$work/odd" --port-file "$work/odd.port" --parent-pid $$ >/dev/null &
server_pids+=($!)
for _ in $(seq 100); do [ -s "$work/odd.port" ] && break; sleep 0.1; done
[ -s "$work/odd.port" ] || { echo "run_with_servers.sh: odd_server.py did not start" >&2; exit 1; }
export KR_TEST_ODD_SERVER="http://127.0.0.1:$(cat "$work/odd.port")"

"$@"
