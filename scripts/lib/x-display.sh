# A display for Windows GUI programs under Wine, and screenshots of it.
# shellcheck shell=bash
#   kr_display_start WORKDIR   keeps $DISPLAY when set, else starts Xvfb on a free display number
#                              (sets KR_XVFB_PID then); call it before kr_wine_prepare
#   kr_display_stop            stops the Xvfb that kr_display_start started
#   kr_screenshot FILE.png     the whole screen as PNG
#   kr_window_geometry TITLE   prints "WIDTHxHEIGHT+X+Y" of the window with that title while it is shown
#   kr_screen_pixel X Y        prints "R,G,B" of the screen's pixel
#   kr_shown_window TITLE SIZE prints "ID X Y" of the shown window with exactly that title once it has
#                              SIZE ("WIDTHxHEIGHT"); fails otherwise (xdotool)

kr_display_start() {
    local workdir=$1 number
    KR_XVFB_PID=""
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    mkdir -p "$workdir"
    # -displayfd picks a free number and reports it once the server accepts clients.
    # A white root window, so a screenshot tells transparent pixels from black ones.
    Xvfb -displayfd 3 -screen 0 1280x960x24 -wr -nolisten tcp 3>"$workdir/xvfb.display" \
        >"$workdir/xvfb.log" 2>&1 &
    KR_XVFB_PID=$!
    for _ in $(seq 100); do
        number=$(cat "$workdir/xvfb.display" 2>/dev/null)
        [ -n "$number" ] && break
        sleep 0.1
    done
    if [ -z "$number" ]; then
        echo "Xvfb did not start; see $workdir/xvfb.log" >&2
        kr_display_stop
        return 1
    fi
    export DISPLAY=":$number"
}

kr_display_stop() {
    if [ -n "${KR_XVFB_PID:-}" ]; then
        kill "$KR_XVFB_PID" 2>/dev/null || true
        wait "$KR_XVFB_PID" 2>/dev/null || true
        KR_XVFB_PID=""
    fi
}

kr_screenshot() {
    /usr/bin/import -window root "$1" 2>/dev/null
}

kr_window_geometry() {
    xwininfo -name "$1" 2>/dev/null | awk '
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        /^  Width:/ { w = $NF } /^  Height:/ { h = $NF } /Map State: IsViewable/ { shown = 1 }
        END { if (shown) print w "x" h "+" x "+" y }'
}

kr_screen_pixel() {
    /usr/bin/import -display "$DISPLAY" -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
        sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

kr_shown_window() {
    local id geometry
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] || return 1
    geometry=$(xdotool getwindowgeometry "$id" 2>/dev/null)
    grep -q "Geometry: $2\$" <<<"$geometry" || return 1
    sed -n "s/.*Position: \([0-9]*\),\([0-9]*\).*/$id \1 \2/p" <<<"$geometry"
}
