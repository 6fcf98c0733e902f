#!/usr/bin/env bash
# Takes the README's screenshots on a private Xvfb display: the devsim
# window, the tray menu, the about box, and the settings in English and in
# Simplified Chinese, and the upgrade progress while an installer comes from
# a slow update server on loopback. Needs a built build/, Xvfb, trayer,
# xdotool, ImageMagick and pyftpdlib (scripts/deps installs them).
#   docs/screenshots/take.sh [OUT_DIR]      (default: docs/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/docs/screenshots}
bin=${VARNOKS_BIN_DIR:-$root/build/bin}
work=$(mktemp -d)
pids=()
program=
cleanup() {
  local i
  [[ -n "$program" ]] && kill -TERM "$program" 2>/dev/null && sleep 0.5
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
  sleep 0.3
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out" "$work"/{config,state,runtime,logs,devices}
chmod 700 "$work/runtime"

exec 4< <(Xvfb -displayfd 1 -screen 0 1024x640x24 -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 10 number <&4
export DISPLAY=":$number"
unset QT_QPA_PLATFORM
trayer --edge bottom --align right --widthtype request --height 28 --transparent false --tint 0x303030 \
  >/dev/null 2>&1 &
pids+=($!)

cat >"$work/sensors.json" <<'JSON'
{"init": 0, "sensors": [
  {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
    {"kind": 1, "slot": 0, "label": "CPU Package id 0", "unit": "C", "values": [67, 67]}]},
  {"name": "[dell_smm-virtual-0]", "readings": [
    {"kind": 3, "slot": 0, "label": "CPU Processor Fan", "unit": "RPM", "values": [1450, 1450]}]},
  {"name": "GPU [amdgpu-pci-0300]", "readings": [
    {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "C", "values": [93, 93]}]}]}
JSON

mkfifo "$work/devsim.in"
"$bin/varnoks-devsim" --dir "$work/devices" --window "left,sw=1.3,hw=0.7,uuid=0A1B2C3D4E5F60718293A4B5" \
  "right,sw=1.3,hw=0.7" <"$work/devsim.in" >/dev/null 2>&1 &
pids+=($!)
exec 3>"$work/devsim.in"
sleep 1

run=(env XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
  VARNOKS_LOG_DIR="$work/logs" VARNOKS_SENSOR_LIBRARY="$bin/libvarnoks-sensors-sim.so"
  VARNOKS_SENSOR_FIXTURE="$work/sensors.json" VARNOKS_HID_BACKEND="virtual:$work/devices"
  VARNOKS_UPDATE_SERVER=127.0.0.1:9 "$bin/varnoks-pilot")
run_update=("${run[@]}")
start_program() { # in the background; env becomes the program, so $! is its pid
  "${run[@]}" >>"$work/program.log" 2>&1 &
  program=$!
}
second_start() { # a later instance: brings the first one's settings forward
  "${run[@]}" >>"$work/program.log" 2>&1
}
stop_program() {
  kill -TERM "$program"
  wait "$program" || true
  program=
}
# window_shot NAME FILE: the root window cropped to the newest visible window
# whose title matches.
window_shot() {
  local id geometry
  id=$(xdotool search --sync --onlyvisible --name "$1" | tail -n1)
  geometry=$(xdotool getwindowgeometry --shell "$id")
  eval "$geometry"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
  echo "screenshots: $2"
}
# largest_window_shot FILE: the program's largest visible window.
largest_window_shot() {
  local best=0 id= w
  for w in $(xdotool search --onlyvisible --name ''); do
    [[ "$(xdotool getwindowname "$w")" == varnoks-devsim ]] && continue
    eval "$(xdotool getwindowgeometry --shell "$w")"
    ((WIDTH * HEIGHT < 1024 * 640 && WIDTH * HEIGHT > best)) || continue
    best=$((WIDTH * HEIGHT))
    id=$w
  done
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
  echo "screenshots: $1 ($(xdotool getwindowname "$id"))"
}
tray_xy() {
  local id
  id=$(xdotool search --onlyvisible --name '^panel$' | head -n1)
  eval "$(xdotool getwindowgeometry --shell "$id")"
  echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
}

start_program
sleep 5
window_shot '^varnoks-devsim$' "$out/devsim-window.png"

read -r tx ty < <(tray_xy)
xdotool mousemove "$tx" "$ty" click 3
sleep 0.8
xdotool key Down   # first entry: the device list, opened to show the devices
sleep 0.2
xdotool key Right
sleep 0.8
import -window root -crop 520x260+504+380 +repage "$out/tray-menu.png"
echo "screenshots: $out/tray-menu.png"
xdotool key Escape Escape
sleep 0.3

# About: the fourth entry of the menu, chosen from below.
xdotool mousemove "$tx" "$ty" click 3
sleep 0.8
xdotool key Up Up Return
sleep 1
window_shot '^About$' "$out/about-dialog.png"

# A second start brings the settings forward.
second_start
sleep 1
window_shot '^Varnoks Pilot$' "$out/settings-en.png"
stop_program

# An update server with a newer version whose installer arrives slowly
# (pyftpdlib's throttled data channel), and a reminder that is due, so the
# automatic check offers the version at once.
mkdir -p "$work/ftp/ZRN/V1.0.4.2" "$work/ftp/ZRN/V1.0.5.0"
head -c 3000000 /dev/zero >"$work/ftp/ZRN/V1.0.5.0/VarnoksPilotSetup_V1.0.5.0.exe"
exec 5< <(/usr/bin/python3 - "$work/ftp" <<'PY'
import logging
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user("dlaccess42", "Kq#71Vx3", sys.argv[1], perm="elr")
dtp = ThrottledDTPHandler
dtp.write_limit = 200 * 1024  # bytes a second sent to the client
handler = FTPHandler
handler.authorizer = authorizer
handler.dtp_handler = dtp
server = FTPServer(("127.0.0.1", 0), handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
PY
)
pids+=($!)
read -r -t 10 ftp_port <&5
for i in "${!run_update[@]}"; do
  [[ "${run_update[i]}" == VARNOKS_UPDATE_SERVER=* ]] && run_update[i]="VARNOKS_UPDATE_SERVER=127.0.0.1:$ftp_port"
done
printf 'next%%20upgrade%%20time=1000\nupgrade%%20version=V1.0.5.0\n' >>"$work/config/KR_alvo/VarnoksPilot.conf"
"${run_update[@]}" >>"$work/program.log" 2>&1 &
program=$!
sleep 5
# Accept the offer: the question box has the keyboard.
xdotool key Return
sleep 3
largest_window_shot "$out/upgrade-progress.png"
stop_program

# The same in Simplified Chinese (language 0).
printf '[General]\nlanguage=0\n' >"$work/config/KR_alvo/VarnoksPilot.conf.new"
grep -v -e '^\[General\]' -e '^language=' "$work/config/KR_alvo/VarnoksPilot.conf" \
  >>"$work/config/KR_alvo/VarnoksPilot.conf.new" || true
mv "$work/config/KR_alvo/VarnoksPilot.conf.new" "$work/config/KR_alvo/VarnoksPilot.conf"
start_program
sleep 4
second_start
sleep 1
largest_window_shot "$out/settings-zh_CN.png"
