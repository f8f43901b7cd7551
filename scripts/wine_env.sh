# Sourced by the test and demo scripts: a private Wine prefix under the build folder and an
# Xvfb display for the lifetime of the calling script.
# Expects BUILD_DIR to be set.

export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
export WINEARCH=win32
# The loader the prefix's own commands run with; the 64-bit prefix swaps it for wine64.
QX_WINE=wine

qx_start_display() {
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      QX_XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X${n}" ] && return 0
        sleep 0.1
      done
      echo "Xvfb did not start on :$n" >&2
      return 1
    fi
  done
  echo "no free X display number" >&2
  return 1
}

qx_stop_display() {
  if [ -n "${QX_XVFB_PID:-}" ]; then
    kill "$QX_XVFB_PID" 2>/dev/null || true
    wait "$QX_XVFB_PID" 2>/dev/null || true
    QX_XVFB_PID=
  fi
}

# Creates the prefix once; a crashing program must not wait for a click on Wine's crash
# dialog, so that dialog is switched off.
qx_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/.qx-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$QX_WINE" wineboot -i >/dev/null 2>&1 || true
    "$QX_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w || true
    touch "$WINEPREFIX/.qx-ready"
  fi
}

# Without a window manager on the display, Wine waits two seconds for one each time it
# destroys a managed window; unmanaged windows are destroyed at once.
qx_unmanaged_windows() {
  if [ ! -f "$WINEPREFIX/.qx-unmanaged" ]; then
    "$QX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w || true
    touch "$WINEPREFIX/.qx-unmanaged"
  fi
}

# Everything a script needs before it runs Windows programs: a display that goes away with
# the script, and a ready prefix.
qx_wine_session() {
  trap qx_stop_display EXIT
  qx_start_display
  qx_prepare_prefix
  qx_unmanaged_windows
}

# Switches the calling script to the 64-bit build's programs: 64-bit Wine runs them in a
# 64-bit prefix of their own under that build folder, on the display already started.
qx_wine64_prefix() {
  local build64=$1
  QX_WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINELOADER=$QX_WINE
  export WINEPREFIX="$build64/wineprefix"
  export WINEARCH=win64
  qx_prepare_prefix
  qx_unmanaged_windows
}
