# Sourced by the test and demo scripts: a private X display and a private Wine
# prefix inside the build tree, started in the order Wine needs and stopped by
# what we started only.
#   kv_session_start <build-dir> [<build-dir>...]
#       exports DISPLAY, WINEPREFIX, WINEDEBUG, KV_WINE, KV_WINE32; the prefix
#       (a win64 one, which runs 32-bit programs too) lives in the first build
#       folder, and each build folder's reference control is registered in the
#       registry view of its architecture
#   kv_session_stop
#   kv_pe_bits <file>   prints 32 or 64: the architecture of a Windows program or library

KV_WINE=/usr/lib/wine/wine64
KV_WINE32=/usr/lib/wine/wine
# Wine's preloaders reserve the address ranges Windows programs need (the
# shared user data page at 0x7ffe0000 among them) before anything else is
# mapped. Without them the kernel may put the loader's heap there at random,
# and about one process in a few thousand dies at start with "failed to map
# the shared user data" and exit status 1.
KV_WINE_PRELOADERS=(/usr/lib/wine/wine64-preloader /usr/lib/wine/wine-preloader)
KV_WINESERVER=/usr/lib/wine/wineserver
kv_xvfb_pid=""
kv_keepalive_pid=""

kv_pe_bits() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 1
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in
    014c) echo 32 ;;
    8664) echo 64 ;;
    *) return 1 ;;
  esac
}

kv_session_start() {
  local build=$1
  mkdir -p "$build"
  local preloader
  for preloader in "${KV_WINE_PRELOADERS[@]}"; do
    [ -e "$preloader" ] || echo "wine-session: $preloader is missing (Debian packages wine64-preloader," \
      "wine32-preloader:i386): Wine programs may fail to start at random" >&2
  done
  export WINEPREFIX
  WINEPREFIX=$(cd "$build" && pwd)/wineprefix
  export WINEDEBUG=-all
  export WINEARCH=win64

  # X first: Wine reads DISPLAY when its first process starts.
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  kv_xvfb_pid=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$fdfile" ]; then
    echo "wine-session: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating prefix $WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" "$KV_WINE" wineboot --init >/dev/null 2>&1 </dev/null || true
    "$KV_WINESERVER" -w
    # Headless settings: no window manager to wait for, no crash dialog.
    "$KV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null
    "$KV_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
    "$KV_WINESERVER" -w
  fi

  "$KV_WINESERVER" -p || true
  # Wine's background services inherit the streams of the first process: give
  # them /dev/null so nothing later waits on a pipe they hold.
  "$KV_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true

  # A resident GUI process keeps Wine's desktop alive between tests.
  local keepalive="$build/bin/kv_keepalive.exe"
  if [ -f "$keepalive" ]; then
    setsid "$KV_WINE" "$keepalive" </dev/null >/dev/null 2>&1 &
    kv_keepalive_pid=$!
  fi
  export KV_WINE KV_WINE32

  # The reference player's ActiveX control is installed the way the real one
  # is, before any program runs, so every program sees the same back-ends: the
  # 32-bit one through the 32-bit regsvr32, into the registry's 32-bit view.
  local dir control regsvr32
  for dir in "$@"; do
    control="$dir/bin/Flash.ocx"
    [ -f "$control" ] || continue
    case $(kv_pe_bits "$control") in
      32) regsvr32=('C:\windows\syswow64\regsvr32.exe') ;;
      64) regsvr32=(regsvr32) ;;
      *) echo "wine-session: $control is no Windows library" >&2; continue ;;
    esac
    control="Z:$(cd "$(dirname "$control")" && pwd)/Flash.ocx"
    "$KV_WINE" "${regsvr32[@]}" /s "$control" </dev/null >/dev/null 2>&1 ||
      echo "wine-session: could not register the reference control of $dir" >&2
  done
}

kv_session_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$KV_WINESERVER" -k >/dev/null 2>&1 || true
    "$KV_WINESERVER" -w >/dev/null 2>&1 || true
  fi
  if [ -n "$kv_keepalive_pid" ]; then
    kill "$kv_keepalive_pid" 2>/dev/null || true
    wait "$kv_keepalive_pid" 2>/dev/null || true
  fi
  if [ -n "$kv_xvfb_pid" ]; then
    kill "$kv_xvfb_pid" 2>/dev/null || true
    wait "$kv_xvfb_pid" 2>/dev/null || true
  fi
}
