# Wine settings for running the Windows build; source it, then call kr_wine_prepare once per session.
# shellcheck shell=bash

# Reused between runs: a fresh prefix costs seconds and hundreds of MB, so it lives outside the checkout.
export WINEPREFIX="${KR_WINEPREFIX:-$HOME/.cache/kr-wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko here: disabling mscoree and mshtml keeps wineboot from offering to install them.
case ";${WINEDLLOVERRIDES:-};" in
  *";mscoree,mshtml=;"*) ;;
  *) export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=" ;;
esac

# Creates the prefix on first use and starts the wineserver and Wine's services detached from any pipe,
# so later runs read through a pipe (CTest, $(...)) do not wait for them. Call it after DISPLAY is set
# when GUI programs will run: a wineserver started without a display spoils later windows.
kr_wine_prepare() {
  local stamp="$WINEPREFIX/.kr-prepared"
  if [[ ! -f "$stamp" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i </dev/null >/dev/null 2>&1 || return
    # Xvfb has no window manager: let Wine draw the frames itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 || return
    # Flush the registry to disk before marking the prefix ready.
    wineserver -w
    touch "$stamp"
  fi
  # Exits non-zero when a server already runs; that is fine.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wine wineboot </dev/null >/dev/null 2>&1
}

# Runs a Windows program; its exit code passes through Wine.
kr_wine_run() {
  wine "$@"
}
