# with_wine_session COMMAND...: runs COMMAND with its own Xvfb display and a Wine prefix inside the
# build folder, keeping one wineserver alive for the whole run, and stops both afterwards.
with_wine_session() {
  export WINEPREFIX="$build_root/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win32
  local display=""
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
  done
  [ -n "$display" ] || { say "no free X display number"; return 1; }
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$build_root/xvfb.log" 2>&1 &
  local xvfb_pid=$!
  local waited
  for waited in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  export DISPLAY=":$display"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the Wine prefix (first time only, about 20 seconds)..."
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  # Xvfb runs no window manager; Wine would wait for one at every window it shows or hides.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  # DirectDraw plug-ins show their frames under Xvfb through Direct3D's GDI renderer.
  wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d gdi /f >/dev/null 2>&1 || true
  export HALCYON_WINE_SESSION=1
  local status=0
  "$@" || status=$?
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  return $status
}
