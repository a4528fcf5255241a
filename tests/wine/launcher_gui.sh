#!/usr/bin/env bash
# The launcher program under Wine on a virtual X display: splash, main window, installation from the
# served release, URL protocol registration, the single-instance rule, the error box when the
# launcher server is down, and the self-update restart. Screenshots are kept under $KR_BINARY_DIR/test-artefacts/launcher-gui/.
#   launcher_gui.sh BIN_DIR
# Runs inside tests/support/run_with_servers.sh, which serves the release and the launcher server.
# Ends every process it started, Wine's included.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "$1" && pwd)
launcher_exe="$bin/QuorvaleOnlineLauncher.exe"
probe_exe="$bin/kr_gui_probe.exe"
artefacts=${KR_BINARY_DIR:-$bin/..}/test-artefacts/launcher-gui
: "${KR_TEST_DOWNLOAD_SERVER:?set by run_with_servers.sh}" "${KR_TEST_RELEASE_WWW:?}" "${KR_TEST_RELEASE_IMAGE:?}"

# shellcheck source=../../scripts/lib/native-deps.sh
source "$root/scripts/lib/native-deps.sh"
set +e # the library turns on errexit; the checks below count failures instead
kr_apt_install xvfb xauth imagemagick >&2 || exit 1
# shellcheck source=../../scripts/lib/wine-env.sh
source "$root/scripts/lib/wine-env.sh"
# shellcheck source=../../scripts/lib/nginx.sh (kr_free_port)
source "$root/scripts/lib/nginx.sh"
# The browser control cannot render here: let its creation fail cleanly.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;ieframe=d"

work=$(mktemp -d "${TMPDIR:-/tmp}/kr-launcher-gui.XXXXXX")
mkdir -p "$artefacts"
rm -f "$artefacts"/*.png
pids=()
xvfb_pid=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=../support/scenario_checks.sh
source "$root/tests/support/scenario_checks.sh"
winpath() { printf 'Z:%s\\' "${1//\//\\}"; }
probe() { wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
# "R,G,B" of a screenshot's pixel.
pixel() { /usr/bin/convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'; }
pixel_is() { local got; got=$(pixel "$1" "$2" "$3"); [ "$got" = "$4" ] || { echo "  pixel $2,$3: $got, expected $4"; return 1; }; }
shot() { import -display "$DISPLAY" -window root "$artefacts/$1.png"; }
wait_exit() { # pid seconds: the process ended in time; its status in $exit_status
    local pid=$1 tries=$(($2 * 10))
    while ((tries-- > 0)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            exit_status=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# --- A display of our own; Wine must start on it (a wineserver without a display spoils windows).
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
# Xvfb picks a free display number itself and reports it once it listens.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ -s "$work/display" ]; then
    DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
    export DISPLAY
else
    echo "launcher_gui.sh: Xvfb did not start" >&2
    exit 1
fi
kr_wine_prepare || exit 1

# --- A splash picture, and the launcher's executable as the served launcher package.
python3 - "$work" "$KR_TEST_RELEASE_WWW" "$launcher_exe" <<'PY' || exit 1
import os, struct, sys, zipfile
work, www, exe = sys.argv[1:]
# 24-bit 200 x 120 picture in one colour (200, 40, 90), bottom-up rows padded to 4 bytes.
w, h = 200, 120
row = bytes([90, 40, 200]) * w
pixels = (row + b"\0" * ((4 - len(row) % 4) % 4)) * h
bmp = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + \
      struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels
os.makedirs(os.path.join(work, "run"), exist_ok=True)
with open(os.path.join(work, "run", "Splash.bmp"), "wb") as f:
    f.write(bmp)
with open(exe, "rb") as f, zipfile.ZipFile(os.path.join(www, "QuorvaleOnlineLauncher.zip"), "w") as z:
    z.writestr("QuorvaleOnlineLauncher.exe", f.read())
PY

# --- The launcher server answers with the release's download server and no web server.
launcher_server=${KR_TEST_LAUNCHER_SERVER:?set by run_with_servers.sh}
curl -sf "$launcher_server/_admin/config" -d @- >/dev/null <<JSON || exit 1
{"settings": {"HttpServer": "", "ErrorPage": "%s.html", "MinimumDiscMemory": 1,
              "Language": "en", "StudioLanguageCode": 1, "AvailableLanguages": "en"},
 "download_server": "$KR_TEST_DOWNLOAD_SERVER"}
JSON
# Paths carry the request's random query: match their start.
data_requests() { curl -s "$launcher_server/_admin/requests" | grep -o '"/launcher/data/' | wc -l; }

project="$work/project"
prelauncher="$work/prelauncher"
mkdir -p "$project" "$prelauncher"
# The launcher lives in the install folder; the served package holds the same executable.
cp "$launcher_exe" "$project/"
wine reg delete 'HKCU\Software\Classes\quorvaleonline' /f >/dev/null 2>&1
args=("-LauncherServer=$launcher_server" "-ProjectPath=$(winpath "$project")" "-PreLauncherPath=$(winpath "$prelauncher")")

# --- Scenario 1: splash, main window, installation, protocol, second start, closing.
(cd "$work/run" && exec wine "$launcher_exe" "${args[@]}") >/dev/null 2>&1 &
launcher_pid=$!
pids+=($launcher_pid)
check "the splash window appears" probe wait "Quorvale Online" - 20
sleep 0.7
shot splash
# The picture is centred on the 1280 x 1024 screen.
check "the splash shows the picture centred" pixel_is "$artefacts/splash.png" 640 512 "200,40,90"
read -r _ splash_ex_style < <(probe style "Quorvale Online" -)
check "the splash is a layered window" [ $((0x${splash_ex_style:-0} & 0x80000)) -ne 0 ]

main_window() { # visible, caption + system menu + minimize box, dialog frame and 2, no longer layered
    local style st ex
    style=$(probe style "Quorvale Online" -) || { [ -n "${1:-}" ] && echo "  no visible window"; return 1; }
    st=$((0x${style% *}))
    ex=$((0x${style#* }))
    # The system adds WS_EX_WINDOWEDGE to a dialog frame and takes WS_EX_TOPMOST only from SetWindowPos.
    [ $((st & 0xCF0000)) -eq $((0xCA0000)) ] && [ $((ex & 0x3)) -eq 3 ] && [ $((ex & 0x80000)) -eq 0 ] && return 0
    [ -n "${1:-}" ] && echo "  window styles: $style"
    return 1
}
became_main=1
for _ in $(seq 100); do main_window && { became_main=0; break; }; sleep 0.1; done
[ $became_main -eq 0 ] || main_window verbose
check "the splash turns into the main window" [ $became_main -eq 0 ]
sleep 0.8
shot main
read -r left top right bottom < <(probe client "Quorvale Online" -)
echo "  main window client area: $left,$top - $right,$bottom"
check "the main window's client area is 1024 wide" [ "$((right - left))" -eq 1024 ]
# Left of the status area: bar background; inside the play button's corner: disabled grey.
check "bottom bar background" pixel_is "$artefacts/main.png" $((left + 20)) $((bottom - 24)) "250,250,250"
check "disabled play button" pixel_is "$artefacts/main.png" $((right - 136 + 3)) $((bottom - 40 + 3)) "176,176,176"

installed() {
    python3 - "$KR_TEST_RELEASE_IMAGE" "$project" <<'PY'
import os, sys
image, project = sys.argv[1:]
for top, _, files in os.walk(image):
    for name in files:
        a = os.path.join(top, name)
        b = os.path.join(project, os.path.relpath(a, image))
        if not os.path.isfile(b) or open(a, "rb").read() != open(b, "rb").read():
            sys.exit(1)
for extra in ("Splash.bmp", "QuorvaleOnlineLauncher.zip", "KelvaneRuntimeMMO.exe",
              os.path.join("ErrorPage", "general-error_no-twitter.html")):
    if not os.path.isfile(os.path.join(project, extra)):
        sys.exit(1)
PY
}
for _ in $(seq 120); do installed && break; sleep 0.5; done
check "the installed tree equals the release" installed
sleep 1.2
shot installed

reg_value() { wine reg query "HKCU\\Software\\Classes\\quorvaleonline$1" /v "$2" 2>/dev/null | tr -d '\r'; }
reg_default() { wine reg query "HKCU\\Software\\Classes\\quorvaleonline$1" /ve 2>/dev/null | tr -d '\r'; }
pre_win=$(winpath "$prelauncher")
check "protocol key" grep -qF "URL:Quorvale Online Protocol" <<<"$(reg_default "")"
check "protocol marker value" grep -q "URL Protocol" <<<"$(reg_value "" "URL Protocol")"
check "protocol icon" grep -qF "\"${pre_win}Quorvale.exe\",0" <<<"$(reg_default '\DefaultIcon')"
check "protocol command" grep -qF "\"${pre_win}Quorvale.exe\" -uri=%1" <<<"$(reg_default '\shell\open\command')"

before=$(data_requests)
start=$SECONDS
(cd "$work/run" && exec wine "$launcher_exe" "${args[@]}") >/dev/null 2>&1 &
second_pid=$!
pids+=($second_pid)
exit_status=
check "a second start ends by itself" wait_exit "$second_pid" 15
check "a second start returns 0 at once ($((SECONDS - start)) s)" [ "$exit_status" = 0 ]
check "a second start asks the server nothing" [ "$(data_requests)" = "$before" ]
check "the first launcher still runs" kill -0 "$launcher_pid"

probe close "Quorvale Online" - >/dev/null
exit_status=
check "closing the window ends the launcher" wait_exit "$launcher_pid" 15
check "the closed launcher's exit status is 0" [ "$exit_status" = 0 ]

# --- Scenario 2: no launcher server, no local error page, no splash picture.
mkdir -p "$work/bare" "$work/project2"
dead_port=$(kr_free_port)
(cd "$work/bare" && exec wine "$launcher_exe" "-LauncherServer=http://127.0.0.1:$dead_port" \
    "-ProjectPath=$(winpath "$work/project2")") >/dev/null 2>&1 &
error_pid=$!
pids+=($error_pid)
check "without a splash picture and a server the Error box appears" probe wait "#32770" Error 25
shot error
text=$(probe text "#32770" Error)
echo "  message: $text"
# The system's text of ERROR_HOST_DOWN; Wine's table has none, and then the box names the code.
system_text=$(probe syserror 1256)
[ -n "$system_text" ] || system_text="Error 1256"
check "the Error box carries the system's text of error 1256, or the code" [ "$text" = "$system_text" ]
check "the launcher waits for the box" kill -0 "$error_pid"
probe ok "#32770" Error >/dev/null
exit_status=
check "dismissing the Error box ends the launcher" wait_exit "$error_pid" 15
check "the dismissed launcher's exit status is 0" [ "$exit_status" = 0 ]

# --- Scenario 3: the served launcher package differs from the running launcher: the update box, then
# the pre-launcher (the probe under its name) is started with the launcher's state, and the launcher ends.
python3 - "$KR_TEST_RELEASE_WWW" <<'PY' || exit 1
import os, sys, zipfile
with zipfile.ZipFile(os.path.join(sys.argv[1], "QuorvaleOnlineLauncher.zip"), "w") as z:
    z.writestr("QuorvaleOnlineLauncher.exe", b"MZ a newer launcher " * 100)
PY
mkdir -p "$work/project3" "$work/prelauncher3"
cp "$launcher_exe" "$work/project3/"
cp "$probe_exe" "$work/prelauncher3/Quorvale.exe"
(cd "$work/run" && exec wine "$launcher_exe" "-LauncherServer=$launcher_server" "-ProjectPath=$(winpath "$work/project3")" \
    "-PreLauncherPath=$(winpath "$work/prelauncher3")" -sid=abc) >/dev/null 2>&1 &
update_pid=$!
pids+=($update_pid)
check "an updated launcher package brings the update box" probe wait "#32770" "Quorvale Launcher Update" 90
shot update
check "the update box carries the update text" \
    [ "$(probe text "#32770" "Quorvale Launcher Update")" = "Quorvale Launcher has been updated click ok to apply changes" ]
probe ok "#32770" "Quorvale Launcher Update" >/dev/null
exit_status=
check "after the update box the launcher ends" wait_exit "$update_pid" 15
for _ in $(seq 50); do [ -s "$work/prelauncher3/restart-args.txt" ] && break; sleep 0.1; done
expected="-RestartLauncher=1 -LauncherServer=$launcher_server -sid=abc -language_code=en -uriStart=1"
check "the pre-launcher is started in its folder with the restart command line" \
    [ "$(cat "$work/prelauncher3/restart-args.txt" 2>/dev/null)" = "$expected" ]

# --- Scenario 4: started with nothing but a link that names another launcher server, install folder,
# pre-launcher and user folder, and claims to be a restart. The launcher must talk to its compiled-in
# server only, touch none of the named folders, and still take the link's session options.
own_server=${KR_LAUNCHER_SERVER:?the compiled-in launcher server, from CMake}
own_port=$(sed -E 's#^[a-z]+://[^:/]+:([0-9]+).*#\1#' <<<"$own_server")
python3 "$root/tools/devservers/launcher_server.py" --port "$own_port" --port-file "$work/own.port" \
    --parent-pid $$ >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/own.port" ] && break; sleep 0.1; done
check "the compiled-in launcher server's port $own_port is free for the test" [ -s "$work/own.port" ]
curl -sf "$own_server/_admin/config" -d @- >/dev/null <<JSON
{"settings": {"HttpServer": "", "ErrorPage": "%s.html", "MinimumDiscMemory": 1,
              "Language": "en", "StudioLanguageCode": 1, "AvailableLanguages": "en,de"},
 "languages": {"de": {"LABEL_PLAY": "Spielen", "LABEL_LAUNCHER_UPDATE_TITLE": "Quorvale Launcher Update",
                       "LABEL_LAUNCHER_UPDATE_TEXT": "Neue Version"}},
 "download_server": "$KR_TEST_DOWNLOAD_SERVER"}
JSON
# The link's server is the shared test server: it must see nothing from now on. It would hand out
# the same release, so a launcher that obeyed the link would install into the link's folder.
curl -sf -X POST "$launcher_server/_admin/reset" >/dev/null
curl -sf "$launcher_server/_admin/config" -d @- >/dev/null <<JSON
{"settings": {"HttpServer": "", "ErrorPage": "%s.html", "MinimumDiscMemory": 1,
              "Language": "en", "StudioLanguageCode": 1, "AvailableLanguages": "en,de"},
 "download_server": "$KR_TEST_DOWNLOAD_SERVER"}
JSON
wine_dir() { winepath -u "$(wine cmd /c "echo $1" 2>/dev/null | tr -d '\r')" 2>/dev/null; }
public_dir=$(wine_dir '%PUBLIC%')
profile_dir=$(wine_dir '%USERPROFILE%')
program_files=$(wine_dir '%ProgramFiles%')
default_project="$public_dir/QuorvaleOnline"
default_user="$profile_dir/AppData/LocalLow/QuorvaleOnline"
default_pre="$program_files/Vintrell/Quorvale"
rm -rf "$default_project" "$default_user" "$default_pre"
# The default installation holds a launcher older than the served package, so the update restarts
# through the pre-launcher found in Program Files; its command line shows what the launcher kept.
mkdir -p "$default_project/Data" "$default_user" "$default_pre"
cp "$launcher_exe" "$default_project/"
cp "$probe_exe" "$default_pre/Quorvale.exe"
mkdir -p "$work/link"
link="quorvaleonline://play?sid=abc&customer_id=5&language_code=de&LauncherServer=$launcher_server"
link+="&ProjectPath=$(winpath "$work/link/project")&PreLauncherPath=$(winpath "$work/link/pre")"
link+="&ProjectUserDataPath=$(winpath "$work/link/user")&RestartLauncher=1"
wine reg delete 'HKCU\Software\Classes\quorvaleonline' /f >/dev/null 2>&1
(cd "$work/run" && exec wine "$launcher_exe" "-uri=$link") >/dev/null 2>&1 &
link_pid=$!
pids+=($link_pid)
check "the link's launcher installs and brings the update box" probe wait "#32770" "Quorvale Launcher Update" 90
probe ok "#32770" "Quorvale Launcher Update" >/dev/null
exit_status=
check "after the update box the link's launcher ends" wait_exit "$link_pid" 15
for _ in $(seq 50); do [ -s "$default_pre/restart-args.txt" ] && break; sleep 0.1; done
expected="-RestartLauncher=1 -LauncherServer=$own_server -sid=abc -customer_id=5 -language_code=de -uriStart=1"
check "the link's session options reach the restart, its server does not" \
    [ "$(cat "$default_pre/restart-args.txt" 2>/dev/null)" = "$expected" ]
own_requests=$(curl -s "$own_server/_admin/requests")
check "the compiled-in server had the handshake" grep -q '"/launcher/data/' <<<"$own_requests"
asked_de() {
    python3 -c 'import json, sys
requests = json.load(sys.stdin)
sys.exit(0 if any(r["path"].startswith("/launcher/language_data/") and
                  json.loads(r["body"]).get("language_code") == "de" for r in requests) else 1)' <<<"$own_requests"
}
check "the language texts were asked for in the link's language" asked_de
check "the server the link named was never asked" [ "$(curl -s "$launcher_server/_admin/requests")" = "[]" ]
check "nothing was created in the folders the link named" [ -z "$(ls -A "$work/link")" ]
check "the installation went to the default folder" [ -f "$default_project/KelvaneRuntimeMMO.exe" ]
rm -rf "$default_project" "$default_user" "$default_pre"

echo "launcher GUI scenario: $failures failed; screenshots in $artefacts"
[ "$failures" -eq 0 ]
