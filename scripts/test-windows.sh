#!/usr/bin/env bash
# Tries the Windows build (scripts/build-windows.sh) under Wine:
#   1. every test program, from the build folder, with the DLLs of the zip;
#   2. a smoke run of the zip's programs: the demo portal, quilora-admin.exe
#      crawl all, quilora-book.exe book on an open slot, and quilora.exe on a
#      virtual X display, signed in, with a screenshot (build-win64/smoke/).
#
#   TESTS=0 / SMOKE=0   leave out a part
#   TEST_TIMEOUT        seconds per test program (default 300)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-win64}
ZIP=$ROOT/dist/Quilora-win64.zip
CACHE=${QUILORA_WIN64_CACHE:-$HOME/.cache/quilora-win64}
[[ -f $ZIP ]] || { echo "test-windows: no $ZIP; run scripts/build-windows.sh first" >&2; exit 2; }

need=()
command -v wine >/dev/null || need+=(wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xdotool >/dev/null || need+=(xdotool)
command -v import >/dev/null || need+=(imagemagick)
command -v unzip >/dev/null || need+=(unzip)
[[ -d /usr/share/fonts/truetype/wqy ]] || need+=(fonts-wqy-microhei)
if ((${#need[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# A Wine prefix of our own, made once; no Mono or Gecko installer prompts.
export WINEPREFIX=${WINEPREFIX:-$BUILD/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=$(command -v wine)
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "== making the Wine prefix $WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
fi
# Windows' Chinese UI fonts are not there: Wine stands in with WenQuanYi.
for face in "Microsoft YaHei" "Microsoft YaHei UI" SimSun NSimSun "SimSun-ExtB"; do
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done

TRY=$BUILD/try
rm -rf "$TRY" && mkdir -p "$TRY" && unzip -q "$ZIP" -d "$TRY"
APP=$TRY/Quilora
winpath() { "$WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
APP_W=$(winpath "$APP")
failed=0

# ---- 1. the test programs
if [[ ${TESTS:-1} == 1 ]]; then
  echo "== test programs under Wine"
  # Qt from its own install, whose plugins (SQL drivers, the offscreen
  # platform of the window tests) Qt finds beside it; the other DLLs from the zip.
  export WINEPATH="$(winpath "$CACHE/prefix/qt/bin");$APP_W"
  export QT_QPA_PLATFORM=offscreen
  summary=$BUILD/wine-tests.txt
  : >"$summary"
  for exe in "$BUILD"/tests/*.exe; do
    name=$(basename "$exe" .exe)
    out=$BUILD/wine-$name.log
    set +e
    # No PostgreSQL ODBC driver on the Windows side here: those cases skip.
    (cd "$BUILD/tests" && CI= QUILORA_TEST_ODBC= timeout "${TEST_TIMEOUT:-300}" "$WINE" "$exe" --gtest_brief=1 \
      >"$out.crlf" 2>&1)
    rc=$?
    tr -d '\r\0' <"$out.crlf" >"$out" && rm -f "$out.crlf"
    set -e
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$out" | tail -1)
    failing=$(grep '^\[  FAILED  \] [A-Za-z]' "$out" | sed 's/ (.*//' | sort -u | wc -l)
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$out" | tail -1)
    printf '%-26s exit %3d  passed %4s  failed %4s  skipped %4s\n' "$name" "$rc" "${passed:-0}" "${failing:-0}" \
      "${skipped:-0}" | tee -a "$summary"
    if ((rc != 0)); then
      grep '^\[  FAILED  \] [A-Za-z]' "$out" | sort -u | sed 's/^/    /' | tee -a "$summary" || true
      failed=1
    fi
  done
  unset WINEPATH QT_QPA_PLATFORM
fi

# ---- 2. the smoke run, from the unpacked zip only
if [[ ${SMOKE:-1} == 1 ]]; then
  echo "== smoke run of the zip's programs"
  SMOKE_DIR=$BUILD/smoke
  mkdir -p "$SMOKE_DIR"
  port=${QUILORA_PORTAL_PORT:-18480}
  script_port=$((port + 1))
  cleanup() {
    [[ -n ${portal:-} ]] && kill "$portal" 2>/dev/null || true
    [[ -n ${xvfb:-} ]] && kill "$xvfb" 2>/dev/null || true
    WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
    "$WINESERVER" -k 2>/dev/null || true
  }
  trap cleanup EXIT
  "$WINE" "$APP/quilora-portal.exe" --port "$port" --script-port "$script_port" >"$SMOKE_DIR/portal.log" 2>&1 &
  portal=$!
  for _ in $(seq 300); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "smoke: the demo portal did not start" >&2; exit 1; }
  cat >"$APP/Config.ini" <<INI
[Data]
Connect=Provider=SQLite;Data Source=catalogue.db
CardNo=6201000000000001
Passwd=demo1234
PortalUrl=http://127.0.0.1:$port
ScriptUrl=http://127.0.0.1:$script_port
AreaID=101
HospitalID=1001
ClassID=10001
DoctorID=100001
INI
  (cd "$APP" && "$WINE" quilora-admin.exe crawl all) 2>&1 | tr -d '\r' | tail -2 | tee "$SMOKE_DIR/crawl.log"
  doctor=100001
  sn=$(cd "$APP" && "$WINE" quilora-book.exe --json schedule --doctor $doctor 2>/dev/null | tr -d '\r' |
    grep '"stateText":"正常"' | head -1 | sed 's/.*"sn":\([0-9]*\).*/\1/')
  [[ -n $sn ]] || { echo "smoke: no open slot of doctor $doctor" >&2; exit 1; }
  set +e
  (cd "$APP" && "$WINE" quilora-book.exe book --doctor $doctor --slot "$sn") 2>&1 | tr -d '\r' |
    tee "$SMOKE_DIR/book.log"
  rc=${PIPESTATUS[0]}
  set -e
  echo "smoke: quilora-book.exe book --doctor $doctor --slot $sn exited $rc"
  ((rc == 0)) || failed=1

  # The window on a virtual display: it opens on the sign-in page with the
  # card and the password of Config.ini filled in and the doctor of the
  # smoke's booking chosen; Enter signs in, then 1、刷新预约状态 lists the slots.
  display=:${QUILORA_XVFB_DISPLAY:-97}
  Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  export DISPLAY=$display
  (cd "$APP" && "$WINE" quilora.exe >"$SMOKE_DIR/window.log" 2>&1 &)
  win=""
  for _ in $(seq 120); do
    win=$(xdotool search --name "Quilora" 2>/dev/null | head -1) && [[ -n $win ]] && break
    sleep 0.5
  done
  [[ -n $win ]] || { echo "smoke: the window did not open" >&2; exit 1; }
  sleep 3
  import -window root "$SMOKE_DIR/window-start.png"
  xdotool windowactivate --sync "$win" 2>/dev/null || true
  xdotool key --window "$win" Return
  sleep 6
  import -window root "$SMOKE_DIR/window-signed-in.png"
  # 1、刷新预约状态, by its place in the window at the size it opens with.
  xdotool mousemove --window "$win" 277 165 click 1
  sleep 4
  import -window "$win" "$SMOKE_DIR/window-booking-page.png"
  echo "smoke: screenshots in $SMOKE_DIR (window-start.png, window-signed-in.png, window-booking-page.png)"
  unset DISPLAY
fi

exit $failed
