# The demo's login-and-play part with quorvale-launcher, the launcher on Linux with a real page engine:
# a fresh install into out/demo/linux-game/, the login page, a typed login, the green play button, the
# game runtime started through Wine, and the metrics events that follow. Sourced by scripts/demo,
# which sets out, facts, root, host_bin, launcher_server, nginx_port, metrics_port and the helpers
# fact, demo_shot.
# shellcheck shell=bash

demo_linux_pid=""

# Sets demo_wx, demo_wy: the main window's screen position, once it shows at the launcher's size.
demo_linux_window() {
    local found
    found=$(kr_shown_window "Quorvale Online" 1024x682) || return 1
    read -r demo_wid demo_wx demo_wy <<<"$found"
}

# demo_linux_pixel_is X Y R,G,B: the main window's client pixel has that colour.
demo_linux_pixel_is() {
    [ "$(kr_screen_pixel $((demo_wx + $1)) $((demo_wy + $2)))" = "$3" ]
}

# demo_linux_wait SECONDS COMMAND...: polls COMMAND every 0.2 s; false when the launcher ended first.
demo_linux_wait() {
    local deadline=$((SECONDS + $1))
    shift
    while [ $SECONDS -lt $deadline ]; do
        "$@" && return 0
        [ -n "$demo_linux_pid" ] && ! kill -0 "$demo_linux_pid" 2>/dev/null && return 1
        sleep 0.2
    done
    return 1
}

demo_linux_close() {
    [ -n "$demo_linux_pid" ] || return 0
    kill "$demo_linux_pid" 2>/dev/null || true
    wait "$demo_linux_pid" 2>/dev/null || true
    demo_linux_pid=""
}

demo_linux_run() {
    local launcher=$host_bin/quorvale-launcher dir=$out/linux game=$out/linux-game/ user=$out/linux-user/
    local record=$out/linux-user/game-start.txt started
    if [ ! -x "$launcher" ] || ! command -v xdotool >/dev/null; then
        fact note "the Linux launcher part was skipped: $launcher or xdotool is missing"
        return 0
    fi
    mkdir -p "$dir/run" "$dir/config" "$dir/data" "$user"
    unzip -q -o "$out/www/Splash.zip" Splash.bmp -d "$dir/run"
    # The launcher server plays the web interface now; its login hands out the token the metrics
    # receiver checks the signatures with.
    curl -sf -X POST -d @- "$launcher_server/_admin/config" >/dev/null <<JSON || { fact note "the launcher server refused its web configuration"; return 0; }
{"settings": {"HttpServer": "self", "ErrorPage": "%s.html", "MinimumDiscMemory": 100, "Language": "en",
  "StudioLanguageCode": 1, "AvailableLanguages": "en", "WhiteListURL": ""},
 "download_server": "127.0.0.1:$nginx_port",
 "game_data": {"LauncherHash": "demo-hash", "UserId": 1},
 "web": {"token": "demo-hash", "customer_id": 1, "sid": "demo-sid"}}
JSON
    fact linux.game "$game"
    started=$(date +%s.%N)
    # Its own settings and desktop entry below out/demo, never the real user's; the runtime through
    # the demo's Wine prefix.
    (
        cd "$dir/run" || exit 1
        export XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data
        [ -n "${metrics_port:-}" ] && export KR_METRICS_URL=http://127.0.0.1:$metrics_port/data/
        exec "$launcher" "-LauncherServer=$launcher_server" "-ProjectPath=$game" "-ProjectUserDataPath=$user"
    ) </dev/null >"$out/logs/linux-launcher.log" 2>&1 &
    demo_linux_pid=$!

    if ! demo_linux_wait 30 demo_linux_window; then
        fact note "the Linux launcher's main window did not show"
        demo_linux_close
        return 0
    fi
    echo "   main window shown at $demo_wx,$demo_wy"
    if demo_linux_wait 20 demo_linux_pixel_is 100 100 23,50,77; then
        demo_shot linux-1-login
    else
        fact note "the Linux launcher showed no login page"
    fi
    xdotool windowfocus --sync "$demo_wid"
    xdotool type --delay 40 "player1"
    xdotool key Tab
    xdotool type --delay 40 "demo-password"
    xdotool key Return
    fact linux.user player1
    # Green once logged in and installed.
    if demo_linux_wait 600 demo_linux_pixel_is 892 646 116,176,0; then
        fact linux.seconds_to_ready "$(python3 -c "import time; print('%.1f' % (time.time() - $started))")"
        echo "   logged in, installed: the play button is green"
        demo_shot linux-2-logged-in
    else
        fact note "the Linux launcher's play button did not turn green"
        demo_linux_close
        return 0
    fi
    rm -f "$record"
    xdotool mousemove --sync $((demo_wx + 950)) $((demo_wy + 658)) click 1
    if demo_linux_wait 15 bash -c "! kill -0 $demo_linux_pid 2>/dev/null"; then
        wait "$demo_linux_pid" 2>/dev/null
        fact linux.launcher_ended 1
    else
        fact note "the Linux launcher did not end after the game start"
    fi
    demo_linux_pid=""
    # The sample runtime, started through Wine, writes its command line and shows its window.
    for _ in $(seq 300); do
        [ -s "$record" ] && break
        sleep 0.1
    done
    if [ -s "$record" ]; then
        sleep 1
        demo_shot linux-3-runtime
        fact linux.game_start_file "$record"
    else
        fact note "the runtime started by the Linux launcher recorded no game-start.txt"
    fi
}
