#!/usr/bin/env bash
# Desktop pinning as the X server sees it, under a real window manager:
#   pinning_test.sh <pinning_probe> [<tamsivo executable>]
# Pinned windows must be below all others (yet above the desktop's own
# window), on every workspace, out of the task bar and pager, and must live
# through the desktop window being destroyed and recreated; released windows
# are ordinary again. With the real executable, a start with 嵌入桌面=1 must
# pin both of its windows.
# Exit status 77 (skipped) when Xvfb, openbox or xprop is missing.
set -u

probe=$1
program=${2:-}
for tool in Xvfb openbox xprop xwininfo wmctrl iconv; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

tmp=$(mktemp -d /tmp/tamsivo-pinning-XXXXXX)
pids=()
failures=0

cleanup() {
  # Only what this script started, newest first.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  xprop -root _NET_CLIENT_LIST_STACKING 2>&1 | sed 's/^/  /'
  failures=$((failures + 1))
}

# Keep everything the window manager or the program writes in here.
export HOME=$tmp XDG_CONFIG_HOME=$tmp/config XDG_CACHE_HOME=$tmp/cache XDG_DATA_HOME=$tmp/data
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# Xvfb picks a free display number itself and reports it.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.05; done
[[ -s $tmp/display ]] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$tmp/display")

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || { echo "openbox did not start"; exit 1; }

# Helpers reading the server's view.
state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
desktop_of() { xprop -id "$1" _NET_WM_DESKTOP 2>/dev/null | sed -n 's/.*= //p'; }
# Position of a window in the stacking list, bottom = 0; -1 when absent.
stack_pos() {
  xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //' | tr -d ' ' | tr ',' '\n' |
    awk -v w="$(printf '0x%x' "$1")" '$0 == w { print NR - 1; found = 1 } END { if (!found) print -1 }'
}

pinned() {
  local s
  s=$(state "$1")
  [[ $s == *_NET_WM_STATE_BELOW* && $s == *_NET_WM_STATE_SKIP_TASKBAR* &&
     $s == *_NET_WM_STATE_SKIP_PAGER* && $(desktop_of "$1") == 4294967295 ]]
}

released() {
  local s
  s=$(state "$1")
  [[ $s != *_NET_WM_STATE_BELOW* && $s != *_NET_WM_STATE_STICKY* &&
     $s != *_NET_WM_STATE_SKIP_TASKBAR* && $s != *_NET_WM_STATE_SKIP_PAGER* &&
     $(desktop_of "$1") != 4294967295 ]]
}

# Waits up to 10 s for a check to hold (the window manager works at its pace).
eventually() {
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  "$@"
}

start_desktop() {
  "$probe" desktop >"$tmp/desktop.out" &
  desk_pid=$!
  pids+=("$desk_pid")
  for _ in $(seq 200); do grep -q '^ready' "$tmp/desktop.out" && break; sleep 0.05; done
  desk=$(awk '/^ready/ { print $2 }' "$tmp/desktop.out")
  [[ -n $desk ]] || { echo "stand-in desktop did not start"; exit 1; }
}

below_plain_above_desktop() {
  local d w p
  d=$(stack_pos "$desk")
  p=$(stack_pos "$plain")
  for w in "$main" "$today"; do
    local s
    s=$(stack_pos "$w")
    ((s > d && s < p && d >= 0)) || return 1
  done
}

# --- the platform calls, on windows of a small test program
start_desktop

coproc APP { "$probe" app; }
pids+=("$APP_PID")
read -r -t 10 word main today plain <&"${APP[0]}" || { echo "probe did not start"; exit 1; }
[[ $word == ready ]] || { echo "probe said: $word"; exit 1; }

send() {
  echo "$1" >&"${APP[1]}"
  local reply
  read -r -t 10 reply <&"${APP[0]}" && [[ $reply == done ]]
}

# The main window is mapped when pinned, the today window not yet: both kinds
# of window must end up pinned.
send pin || fail "pin"
send map || fail "map"
eventually pinned "$main" || fail "mapped window not pinned: $(state "$main")"
eventually pinned "$today" || fail "unmapped window not pinned once shown: $(state "$today")"
eventually below_plain_above_desktop || fail "pinned windows not between desktop and other windows"

# What the window manager made of the hints, not the hints themselves: on
# another workspace the pinned windows stay on screen and an ordinary one
# goes; back home, the state the manager writes from its own view still
# says pinned.
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
not_viewable() { ! viewable "$1"; }
wmctrl -s 1
eventually not_viewable "$plain" || fail "the ordinary window stayed on another workspace"
for w in "$main" "$today"; do
  eventually viewable "$w" || fail "pinned window $w left with its workspace"
done
wmctrl -s 0
eventually viewable "$plain" || fail "the ordinary window did not come back"
for w in "$main" "$today"; do pinned "$w" || fail "window manager does not keep $w pinned"; done

# The desktop's own window goes away and comes back.
kill "$desk_pid"
wait "$desk_pid" 2>/dev/null
sleep 0.3
for w in "$main" "$today"; do
  xprop -id "$w" WM_NAME >/dev/null 2>&1 || fail "window $w died with the desktop"
  [[ $(stack_pos "$w") -ge 0 ]] || fail "window $w left the client list"
  pinned "$w" || fail "window $w lost its pinning with the desktop: $(state "$w")"
done
start_desktop
eventually below_plain_above_desktop || fail "after the desktop came back, stacking is wrong"
for w in "$main" "$today"; do pinned "$w" || fail "window $w not pinned after desktop restart"; done

send unpin || fail "unpin"
eventually released "$main" || fail "main window still pinned: $(state "$main")"
eventually released "$today" || fail "today window still pinned: $(state "$today")"
for w in "$main" "$today"; do
  (($(stack_pos "$w") > $(stack_pos "$desk"))) || fail "released window $w below the desktop"
done

# Pinning again after a release works the same way.
send pin || fail "pin again"
eventually pinned "$main" || fail "main window not pinned again"
eventually pinned "$today" || fail "today window not pinned again"
# A hidden window loses its state in the window manager; showing it and
# pinning again at once must pin it, whoever is first at the server.
send reshow || fail "reshow"
eventually pinned "$today" || fail "shown-again window not pinned: $(state "$today")"
eventually pinned "$main" || fail "main window not pinned after re-pinning"
send quit

# --- the real program: 嵌入桌面=1 pins both windows at start-up
if [[ -n $program && -x $program && -f $(dirname "$program")/tesmo.qrr ]]; then
  mkdir -p "$tmp/prog"
  cp "$program" "$(dirname "$program")/tesmo.qrr" "$tmp/prog/"
  printf '[今天备忘录窗口]\r\n模式=5\r\n嵌入桌面=1\r\n记录方式=2\r\n' | iconv -f UTF-8 -t GBK \
    >"$tmp/prog/Start.ini"
  "$tmp/prog/$(basename "$program")" >"$tmp/prog.log" 2>&1 &
  prog_pid=$!
  pids+=("$prog_pid")
  # The program's windows, found by their process id.
  own_windows() {
    local w
    for w in $(xprop -root _NET_CLIENT_LIST | sed 's/.*# //' | tr -d ' ' | tr ',' ' '); do
      xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -q "= $prog_pid\$" && echo "$w"
    done
  }
  two_windows() { [[ $(own_windows | wc -l) -eq 2 ]]; }
  if eventually two_windows; then
    for w in $(own_windows); do
      eventually pinned "$w" || fail "program window $w not pinned at start-up: $(state "$w")"
      (($(stack_pos "$w") > $(stack_pos "$desk"))) || fail "program window $w below the desktop"
    done
  else
    fail "the program did not show its two windows"
    cat "$tmp/prog.log"
  fi
  kill "$prog_pid"
  wait "$prog_pid" 2>/dev/null
else
  echo "note: no program given or built; its start-up check was not run"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all pinning checks passed"
