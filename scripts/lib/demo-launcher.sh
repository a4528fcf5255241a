# The demo's runs of the Windows programs; sourced by scripts/demo, which sets out, game, facts, root,
# win_bin, launcher_server, nginx_port, quick and the helpers fact, winpath, start_devserver, cache_value.
# shellcheck shell=bash

demo_launcher_pid=""

demo_state() {
    python3 "$root/scripts/lib/demo_report.py" state "$game" "$out/image"
}

# Waits up to $2 seconds for the launcher window to be shown with a width that $1 accepts ("splash":
# narrower than the main window, "main": at least its 1024 pixels); prints the geometry.
demo_wait_window() {
    local kind=$1 deadline=$((SECONDS + $2)) geometry width
    while [ $SECONDS -lt $deadline ]; do
        geometry=$(kr_window_geometry "Quorvale Online")
        width=${geometry%%x*}
        if [ -n "$geometry" ]; then
            if { [ "$kind" = splash ] && [ "$width" -lt 1024 ]; } || { [ "$kind" = main ] && [ "$width" -ge 1024 ]; }; then
                echo "$geometry"
                return 0
            fi
        fi
        if [ -n "$demo_launcher_pid" ] && ! kill -0 "$demo_launcher_pid" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
    return 1
}

demo_shot() {
    local name=$1
    if kr_screenshot "$out/$name.png"; then
        fact screenshot "$out/$name.png"
    else
        fact note "screenshot $name.png failed"
    fi
}

# Asks the launcher to close like a click on the window's close box, and waits for it to end.
demo_launcher_close() {
    [ -n "$demo_launcher_pid" ] || return 0
    if kill -0 "$demo_launcher_pid" 2>/dev/null; then
        # Without /f Wine's taskkill posts WM_CLOSE to the program's windows.
        wine taskkill /im QuorvaleOnlineLauncher.exe </dev/null >/dev/null 2>&1 || true
        for _ in $(seq 150); do
            kill -0 "$demo_launcher_pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$demo_launcher_pid" 2>/dev/null; then
            fact note "the launcher did not close on WM_CLOSE within 15 s and was killed"
            kill "$demo_launcher_pid" 2>/dev/null || true
        fi
    fi
    wait "$demo_launcher_pid" 2>/dev/null || true
    demo_launcher_pid=""
}

# demo_launcher_run N NAME: one start of the launcher until its installation is complete on disk.
demo_launcher_run() {
    local n=$1 name=$2 started geometry state seconds log_start timeout
    timeout=$([ "$quick" -eq 1 ] && echo 180 || echo 900)
    fact "run.$n.name" "$name"
    fact "run.$n.game" "$game"
    log_start=$(wc -l <"$out/nginx/access.log")
    fact "run.$n.log_start" "$log_start"
    started=$(date +%s.%N)
    (cd "$game" && exec wine "$game/QuorvaleOnlineLauncher.exe" "-LauncherServer=$launcher_server" \
        "-ProjectPath=$(winpath "$game")" "-PreLauncherPath=$(winpath "$out/prelauncher")" \
        "-ProjectUserDataPath=$(winpath "$out/user")") </dev/null >"$out/logs/launcher-$n.log" 2>&1 &
    demo_launcher_pid=$!

    if geometry=$(demo_wait_window splash 60); then
        echo "   splash shown ($geometry)"
        fact "run.$n.splash_geometry" "$geometry"
        sleep 0.5
        demo_shot "$n-$name-splash"
    else
        fact note "run $n: no splash window seen"
    fi
    if geometry=$(demo_wait_window main 30); then
        echo "   main window shown ($geometry)"
        # The first progress tick comes a second after the window shows.
        sleep 1.3
        if demo_state >/dev/null; then
            fact note "run $n: the installation was complete before the main window showed progress"
        else
            demo_shot "$n-$name-progress"
        fi
    else
        fact note "run $n: no main window seen"
    fi

    local deadline=$((SECONDS + timeout)) last="" present expected
    while [ $SECONDS -lt $deadline ]; do
        if state=$(demo_state); then
            break
        fi
        if [ "$state" != "$last" ]; then
            read -r present expected _ <<<"$state"
            printf '\r   installed %s of %s files' "$present" "$expected"
            last=$state
        fi
        if ! kill -0 "$demo_launcher_pid" 2>/dev/null; then
            fact note "run $n: the launcher ended before the installation was complete"
            break
        fi
        sleep 0.25
    done
    echo
    seconds=$(python3 -c "import time; print('%.1f' % (time.time() - $started))")
    if demo_state >/dev/null; then
        fact "run.$n.complete" 1
        echo "   complete after $seconds s"
    else
        fact "run.$n.complete" 0
        echo "   NOT complete after $seconds s"
    fi
    fact "run.$n.seconds" "$seconds"
    # Let the progress timer repaint the finished state.
    sleep 2.5
    demo_shot "$n-$name-finished"
    demo_launcher_close
    fact "run.$n.log_end" "$(wc -l <"$out/nginx/access.log")"
}

# The installed runtime, started as the launcher's game start would (the play button needs a login in
# the web page, which has no page engine under Wine).
demo_runtime_check() {
    local record=$out/user/game-start.txt pid
    rm -f "$record"
    (cd "$game" && exec wine "$game/KelvaneRuntimeMMO.exe" -StudioLanguageCode=1 -Language=en \
        -NetworkLauncherHash=demo-hash "-ProjectUserDataPath=$(winpath "$out/user")" \
        "-NetworkLauncherServer=$launcher_server" -NetworkUserId=1) </dev/null >"$out/logs/runtime.log" 2>&1 &
    pid=$!
    for _ in $(seq 200); do
        [ -s "$record" ] && break
        sleep 0.1
    done
    sleep 1
    demo_shot runtime
    wait "$pid" 2>/dev/null || true
    fact game_start_file "$record"
}

# Drives the shipped KelvaneInstallHelper.dll through tools/helper-host. Its launcher server is compiled
# in, so the settings role listens on that port.
demo_helper_run() {
    local server port keys log=$out/logs/helper-host.log
    server=$(cache_value KR_HELPER_LAUNCHER_SERVER)
    port=$(url_port "$server")
    keys=$(cache_value KR_SIGNATURE_KEYS)
    if ! start_devserver helper helper_settings.py --port "$port" --keys "$keys" \
        --download-server "127.0.0.1:$nginx_port"; then
        fact helper "its launcher server could not listen on the compiled-in port $port"
        return 0
    fi
    # The host loads the library from its own folder.
    wine "$win_bin/kr-helper-host.exe" --timeout 300 --install </dev/null >"$log" 2>&1 || true
    local dir unix_dir files=0
    dir=$(sed -n 's/^install_directory=//p' "$log" | tr -d '\r')
    if [ -n "$dir" ]; then
        unix_dir=$(winepath -u "$dir" 2>/dev/null)
        files=$(find "$unix_dir" -type f 2>/dev/null | wc -l)
    fi
    wine "$win_bin/kr-helper-host.exe" --uninstall </dev/null >>"$log" 2>&1 || true
    fact helper "$(tr -d '\r' <"$log" | awk -v files="$files" -v dir="$dir" '
        /^install_plugin=/ { plugin = $0 } /^install_game=/ { game = $0 } /^final / { final = $0 }
        /^status / { last = $0; polls++ } /^seconds=/ && !secs { secs = $0 } /^uninstall=/ { un = $0 }
        END { printf "%s, %s, %d polls, last %s, %s, %d files in %s, then %s", plugin, game, polls, last, secs, files, dir, un }')"
    fact helper_log "$log"
}
