#!/usr/bin/env bash
# quorvale-launcher end to end, as a player uses it: on its own Xvfb display against the servers of
# run_with_servers.sh (nginx with the release, the launcher server playing the web interface, the
# metrics receiver). The release installs, the player types name, Tab, password, Enter into the login
# page, the play button turns green, its click starts the runtime (recorded through
# KR_RUNTIME_LAUNCHER) and the launcher ends; metrics arrive signed. A second start fills in the stored
# name and focuses the password; a refused link goes to xdg-open (recorded) and the view stays;
# log-out greys the button; "/close" ends the launcher.
#   launcher_e2e.sh PATH/TO/quorvale-launcher
# Screenshots and the launcher's output stay in $KR_BINARY_DIR/test-artefacts/linux-launcher/.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
launcher=$1
: "${KR_TEST_LAUNCHER_SERVER:?run inside tests/support/run_with_servers.sh}" "${KR_TEST_METRICS_SERVER:?}"
: "${KR_TEST_DOWNLOAD_SERVER:?}" "${KR_TEST_SPLASH_BMP:?}"
artefacts=${KR_BINARY_DIR:-$(dirname "$launcher")/..}/test-artefacts/linux-launcher
ls=$KR_TEST_LAUNCHER_SERVER
ms=$KR_TEST_METRICS_SERVER
events() { python3 "$here/events.py" "$@"; }
# shellcheck source=../../../scripts/lib/nginx.sh
source "$root/scripts/lib/nginx.sh"
# shellcheck source=../../../scripts/lib/x-display.sh
source "$root/scripts/lib/x-display.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kr-linux-launcher.XXXXXX")
mkdir -p "$artefacts" "$work/run" "$work/bin" "$work/home"
rm -f "$artefacts"/*.png "$artefacts/launcher.log"
xvfb_pid=
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    cp "$work/launcher.log" "$artefacts/launcher.log" 2>/dev/null
    kr_nginx_stop "$work/nginx"
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=../../support/scenario_checks.sh
source "$root/tests/support/scenario_checks.sh"

# --- A display of our own, a player's home, and recorders for the two programs the launcher starts.
Xvfb -displayfd 3 -screen 0 1280x960x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || { echo "launcher_e2e.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
export XDG_RUNTIME_DIR=$work/home/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
project=$XDG_DATA_HOME/QuorvaleOnline/
cat >"$work/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$*" >>"$work/xdg-open.txt"
SH
cat >"$work/bin/runtime-launcher" <<SH
#!/bin/sh
{ pwd; for a in "\$@"; do printf '[%s]\n' "\$a"; done; } >"$work/runtime.tmp" && mv "$work/runtime.tmp" "$work/runtime.txt"
SH
chmod +x "$work/bin/xdg-open" "$work/bin/runtime-launcher"
export PATH="$work/bin:$PATH"
export KR_RUNTIME_LAUNCHER=$work/bin/runtime-launcher
export KR_METRICS_URL=$ms/data/
cp "$KR_TEST_SPLASH_BMP" "$work/run/Splash.bmp"

# The same release, served slowly enough that the installation outlasts the splash and its progress
# steps show (a local install finishes between two paints otherwise).
KR_NGINX_LIMIT_RATE=${KR_E2E_RATE:-160k} kr_nginx_start "$KR_TEST_RELEASE_WWW" "$work/nginx" || exit 1
download_server=127.0.0.1:$KR_NGINX_PORT

curl -sf -X POST "$ls/_admin/reset" >/dev/null && curl -sf -X POST "$ms/_admin/reset" >/dev/null || exit 1
curl -sf -X POST -d @- "$ls/_admin/config" >/dev/null <<JSON || exit 1
{"settings": {"HttpServer": "self", "ErrorPage": "%s.html", "MinimumDiscMemory": 1, "Language": "en",
  "StudioLanguageCode": 1, "AvailableLanguages": "en", "WhiteListURL": ""},
 "download_server": "$download_server",
 "game_data": {"LauncherHash": "game-hash", "UserId": 42},
 "web": {"token": "web-token", "customer_id": 42, "sid": "sid-7"}}
JSON
curl -sf -X POST -d '{"keys": {"42": "web-token"}}' "$ms/_admin/config" >/dev/null || exit 1

# --- Window, pixels and input.
shot() { import -display "$DISPLAY" -window root "$artefacts/$1.png" 2>/dev/null; }
# Sets wid, wx, wy: the main window and its client origin on the screen, once it shows at the
# launcher's size.
find_main_window() {
    local found
    found=$(kr_shown_window "Quorvale Online" 1024x682) || return 1
    read -r wid wx wy <<<"$found"
}
# "R,G,B" of the screen at the client point X Y.
pixel() { kr_screen_pixel $((wx + $1)) $((wy + $2)); }
pixel_is() { [ "$(pixel "$1" "$2")" = "$3" ]; }
click() { xdotool mousemove --sync $((wx + $1)) $((wy + $2)) click 1; }
# The play button spans client x 888-1015, y 642-673; its top left corner is free of the caption.
button_is() { pixel_is 892 646 "$1"; }
green=116,176,0 grey=176,176,176 page=23,50,77 link=232,176,74
# The left edge of a form field: the page engine's focus ring, or the plain frame.
focus=46,116,197 frame=18,40,61
login_count() { events logins "$ls" | grep -c "$1"; }
requested() { events paths "$ls" | grep -q "^$1"; }
launcher_ended() { ! kill -0 "$launcher_pid" 2>/dev/null; }
start_launcher() { # the launcher's options
    (cd "$work/run" && exec "$launcher" "$@") >>"$work/launcher.log" 2>&1 &
    launcher_pid=$!
}
wait_exit() { # seconds; the status in $exit_status
    wait_for "$1" launcher_ended || return 1
    wait "$launcher_pid"
    exit_status=$?
    launcher_pid=
}

started=$(date +%s)
# --- First start: the installation and the login.
start_launcher -LauncherServer="$ls"
splash_size=$(identify -format '%wx%h' "$KR_TEST_SPLASH_BMP" 2>/dev/null)
check "the splash shows at its picture's size ($splash_size)" wait_for 10 kr_shown_window "Quorvale Online" "$splash_size"
shot 1-splash
check "the main window shows at 1024 x 682" wait_for 20 find_main_window
[ -n "${wid:-}" ] || { echo "launcher_e2e.sh: no main window"; cat "$work/launcher.log"; exit 1; }
check "the login page shows in the page engine" wait_for 20 pixel_is 100 100 "$page"
check "the launcher asked the web server for the login page" bash -c "python3 '$here/events.py' paths '$ls' | grep -qx 'GET /'"
check "the user name field has the keyboard (autofocus)" wait_for 10 pixel_is 312 222 "$focus"
shot 2-login
check "the play button is grey before the login" button_is "$grey"

xdotool windowfocus --sync "$wid"
xdotool type --delay 30 "alice"
xdotool key Tab
xdotool type --delay 30 "s3cret pass"
xdotool key Return
first_login() { [ "$(events logins "$ls")" = "alice password -" ]; }
check "the typed name and password reached the login" wait_for 20 first_login
check "the play button turns green (logged in, installed)" wait_for 60 button_is "$green"
shot 3-logged-in
check "the installation matches the release" diff -rq "$KR_TEST_RELEASE_IMAGE/Data" "${project}Data"
check "the user name is stored in the settings file" grep -qxF "$(printf 'V\tsoftware\\\\vintrell\\\\quorvaleonline\tuser\talice')" \
    "$XDG_CONFIG_HOME/QuorvaleOnline/settings"
desktop=$XDG_DATA_HOME/applications/quorvaleonline.desktop
check "the URL protocol's desktop entry names this program" grep -qx "Exec=\"$(readlink -f "$launcher")\" -uri=%u" "$desktop"
check "the desktop entry handles the scheme" grep -qx 'MimeType=x-scheme-handler/quorvaleonline;' "$desktop"

click 950 658
check "the click starts the runtime" wait_for 20 test -s "$work/runtime.txt"
expected_runtime="${project%/}
[${project}KelvaneRuntimeMMO.exe]
[-StudioLanguageCode=1]
[-Language=en]
[-NetworkLauncherHash=game-hash]
[-ProjectUserDataPath=$project]
[-NetworkLauncherServer=$ls]
[-NetworkUserId=42]"
check "the runtime gets exactly the game command line in the project folder" \
    test "$(cat "$work/runtime.txt" 2>/dev/null)" = "$expected_runtime"
check "the launcher ends after the game start" wait_exit 15
check "and reports success" test "${exit_status:-1}" = 0

metrics_done() {
    local out
    out=$(events metrics "$ms" 42) || return 1
    grep -q '^types .*10004' <<<"$out"
}
check "the metrics arrive, every batch signed validly" wait_for 20 metrics_done
metrics=$(events metrics "$ms" 42)
echo "$metrics" | sed 's/^/  metrics: /'
types=$(sed -n 's/^types //p' <<<"$metrics")
for event in 10002 10003 10004 10009; do
    check "event $event was reported" grep -qw "$event" <<<"$types"
done
check "no event came from a link start" bash -c "! grep -qw 10001 <<<'$types'"
steps=$(sed -n 's/^steps //p' <<<"$metrics")
rising() { # several progress steps, each a higher tenth than the one before
    local last=0 step count=0
    for step in $steps; do
        [ "$step" -gt "$last" ] && [ "$step" -le 100 ] && [ $((step % 10)) -eq 0 ] || return 1
        last=$step count=$((count + 1))
    done
    # The engine's counters end with the installation, so the last paint may see no 100.
    [ "$count" -ge 2 ]
}
check "progress steps 10007 rise in tenths" rising

# --- Second start, from a link of the URL protocol: the stored name is filled in and the password
# field has the keyboard.
wid=
curl -sf -X POST "$ms/_admin/reset" >/dev/null && curl -sf -X POST -d '{"keys": {"42": "web-token"}}' "$ms/_admin/config" >/dev/null
start_launcher -LauncherServer="$ls" "-uri=quorvaleonline://start?sid=link-sid&customer_id=42"
check "the main window shows again" wait_for 20 find_main_window
check "the login page shows again" wait_for 20 pixel_is 100 100 "$page"
check "the password field has the keyboard (its focus ring shows)" wait_for 20 pixel_is 312 302 "$focus"
check "the user name field has not" pixel_is 312 222 "$frame"
shot 4-second-start
xdotool windowfocus --sync "$wid"
xdotool type --delay 30 "second"
xdotool key Return
second_login() { [ "$(events logins "$ls" | sed -n 2p)" = "alice password link-sid" ]; }
check "the stored name and the password typed alone logged in, with the link's sid" wait_for 20 second_login
check "logged in again: the button is green" wait_for 30 button_is "$green"

# A link outside the white list opens in the desktop's browser; the launcher stays on its page.
click 190 430
check "the refused link went to xdg-open" wait_for 10 grep -qx "http://localhost:${ls##*:}/outside" "$work/xdg-open.txt"
sleep 1
check "the page engine never loaded the refused page" bash -c "! python3 '$here/events.py' paths '$ls' | grep -q '^GET /outside'"
check "the view stays on the page after login" pixel_is 60 230 "$link"
check "the launcher still runs" bash -c "kill -0 $launcher_pid"
shot 5-after-refused-link

click 190 230
check "log-out reached the web server" wait_for 10 requested "GET /logout"
check "log-out greys the play button" wait_for 10 button_is "$grey"
shot 6-logged-out
click 190 330
check "\"/close\" ends the launcher" wait_exit 15
check "the second run reports success too" test "${exit_status:-1}" = 0
# The collector's final flush at the end carries the second login's events.
metrics=$(events metrics "$ms" 42)
check "the second run's batches are validly signed" grep -qx 'bad 0' <<<"$metrics"
check "the link start was reported (10001, no 10002)" \
    bash -c "grep -q '^types.* 10001' <<<'$metrics' && ! grep -q '^types.* 10002' <<<'$metrics'"
# --- Third start without a launcher server: the installation's own error page, a local file the
# white list lets through.
wid=
start_launcher -LauncherServer=http://127.0.0.1:9
check "without a launcher server the main window still shows" wait_for 20 find_main_window
# Dark pixels in the client area X Y W H: text on a white page.
has_text() {
    local min
    min=$(import -display "$DISPLAY" -window root -crop "$3x$4+$((wx + $1))+$((wy + $2))" -colorspace gray \
        -format '%[fx:round(255*minima)]' info: 2>/dev/null)
    [ -n "$min" ] && [ "$min" -lt 100 ]
}
error_page_shows() { pixel_is 100 100 255,255,255 && has_text 4 4 60 30 && ! has_text 300 300 60 30; }
check "it shows the installed error page (white, with its text at the top left)" wait_for 10 error_page_shows
check "the local page was not sent outside" bash -c "[ \$(wc -l <'$work/xdg-open.txt') = 1 ]"
shot 7-error-page
kill "$launcher_pid" 2>/dev/null
wait_exit 10
echo "scenario time: $(($(date +%s) - started)) s"

if [ $failures -ne 0 ]; then
    echo "launcher log:"
    cat "$work/launcher.log"
    echo "$failures check(s) failed; screenshots in $artefacts"
    exit 1
fi
echo "all checks passed; screenshots in $artefacts"
