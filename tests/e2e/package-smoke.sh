#!/usr/bin/env bash
# package-smoke.sh DEB: unpacks the package into a temporary root and runs
# the installed program from there. It must start, find its sensor plugin
# through its RPATH, write its run log and end cleanly on SIGTERM. The
# package must pass lintian without errors or warnings, its AppStream
# metainfo must validate and its manual pages must format without warnings.
set -euo pipefail
deb=${1:?usage: package-smoke.sh PACKAGE.deb}
[[ -f "$deb" ]] || { echo "smoke: no package at $deb" >&2; exit 1; }

work=$(mktemp -d)
pid=
cleanup() {
  [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "smoke: FAIL: $*" >&2; exit 1; }

root="$work/root"
dpkg-deb -x "$deb" "$root"

# Where the files went.
for f in usr/bin/varnoks-pilot usr/bin/varnoks-sensors usr/bin/varnoks-devsim \
         usr/share/applications/varnoks-pilot.desktop \
         usr/share/icons/hicolor/48x48/apps/varnoks-pilot.png \
         usr/share/icons/hicolor/scalable/apps/varnoks-pilot.svg \
         usr/share/doc/varnoks-pilot/copyright usr/share/doc/varnoks-pilot/changelog.gz \
         usr/share/doc/varnoks-pilot/README.md; do
  [[ -e "$root/$f" ]] || fail "$f is missing"
done
plugins=$(find "$root/usr/lib" -path '*/varnoks-pilot/libvarnoks-sensors-*.so' | wc -l)
[[ "$plugins" -ge 2 ]] || fail "sensor plugins missing from the private library folder"
# udev reads /lib/udev/rules.d (udev.pc's folder on Debian 12) and /usr/lib/udev/rules.d.
rule=$(find "$root/lib/udev/rules.d" "$root/usr/lib/udev/rules.d" -name '*varnoks*.rules' 2>/dev/null | head -n1 || true)
[[ -n "$rule" ]] || fail "no udev rule in the package"
grep -q 'KERNELS=="0003:2E3C:0A12\.\*"' "$rule" || fail "udev rule names no display"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/varnoks-pilot.desktop" || fail "desktop entry is not valid"
fi
dpkg-deb -f "$deb" Depends | grep -q 'libqt5widgets5' || fail "Depends lacks the Qt libraries: $(dpkg-deb -f "$deb" Depends)"

# skip WHAT TOOL PACKAGE: says once why a check cannot run here.
skip() { echo "smoke: $1 not checked: $2 is missing (Debian package $3)"; }

# AppStream: software centres offer the program for the display, launch it
# through its desktop entry, and show the package's version as the newest.
metainfo=$(find "$root/usr/share/metainfo" -name '*.metainfo.xml' 2>/dev/null | head -n1 || true)
[[ -n "$metainfo" ]] || fail "no AppStream metainfo in usr/share/metainfo"
grep -q '<modalias>usb:v2E3Cp0A12d\*</modalias>' "$metainfo" || fail "metainfo provides no modalias for the display"
release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n1 | cut -d'"' -f2)
[[ "$release" == "$(dpkg-deb -f "$deb" Version)" ]] ||
  fail "metainfo's newest release is '$release', the package is $(dpkg-deb -f "$deb" Version)"
if command -v appstreamcli >/dev/null; then
  # The tree check also finds the desktop entry the metainfo launches.
  out=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "AppStream validation: $out"
else
  skip "AppStream metainfo" appstreamcli appstream
fi

# Manual pages: one per program, formatted without a single groff warning.
for program in varnoks-pilot varnoks-sensors varnoks-devsim; do
  page="$root/usr/share/man/man1/$program.1.gz"
  [[ -f "$page" ]] || fail "no manual page for $program"
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
      fail "man cannot format $program.1: $warnings"
    [[ -z "$warnings" ]] || fail "$program.1: $warnings"
  fi
done
command -v man >/dev/null || skip "manual pages" man man-db

# lintian: no error and no warning; what cannot be fixed is overridden in
# the package itself, with its reason.
if command -v lintian >/dev/null; then
  out=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $out"
  ! grep -E '^[EW]: ' <<<"$out" || fail "lintian reports errors or warnings"
else
  skip "lintian" lintian lintian
fi
echo "smoke: metainfo, manual pages and lintian checked"

fixture="$work/sensors.json"
cat >"$fixture" <<'JSON'
{"init": 0, "sensors": [
  {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
    {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "C", "values": [52, 53]}]},
  {"name": "GPU [amdgpu-pci-0300]", "readings": [
    {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "C", "values": [41, 42]}]}]}
JSON

# The probe loads a plugin by bare file name: only the RPATH can find it.
probe=$(env -u LD_LIBRARY_PATH VARNOKS_SENSOR_LIBRARY=libvarnoks-sensors-sim.so VARNOKS_SENSOR_FIXTURE="$fixture" \
        "$root/usr/bin/varnoks-sensors" --chosen 2>&1) || fail "probe failed: $probe"
grep -q '^cpu_temperature .*label="CPU Package" value=5[23]$' <<<"$probe" || fail "probe chose nothing: $probe"

# run_program NAME [VAR=VALUE...]: starts the installed program with its own
# XDG folders, waits for its settings to be in place, sends SIGTERM.
run_program() {
  local name=$1
  shift
  local home="$work/$name"
  mkdir -p "$home"/{config,state,runtime,hid}
  chmod 700 "$home/runtime"
  env -u LD_LIBRARY_PATH -u VARNOKS_LOG_DIR -u VARNOKS_SENSOR_LIBRARY -u VARNOKS_SENSOR_FIXTURE \
      QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
      XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime" \
      VARNOKS_HID_BACKEND="virtual:$home/hid" VARNOKS_UPDATE_SERVER=127.0.0.1:9 "$@" \
      "$root/usr/bin/varnoks-pilot" >"$home/output.txt" 2>&1 &
  pid=$!
  local log=
  for _ in $(seq 100); do
    # An installed program logs per user, never beside itself.
    log=$(find "$home/state" -name 'Log_*.txt' 2>/dev/null | head -n1 || true)
    if [[ -n "$log" ]] && grep -q 'SetTaskEnabledState' "$log"; then break; fi
    kill -0 "$pid" 2>/dev/null || fail "$name: the program ended early: $(cat "$home/output.txt")"
    sleep 0.1
  done
  [[ -n "$log" ]] || fail "$name: no run log: $(cat "$home/output.txt")"
  # Let the pool thread load and search the sensor library.
  sleep 1.5
  kill -TERM "$pid"
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [[ $waited -lt 30 ]]; do sleep 0.1; waited=$((waited + 1)); done
  kill -0 "$pid" 2>/dev/null && fail "$name: still running 3 s after SIGTERM"
  local rc=0
  wait "$pid" || rc=$?
  pid=
  [[ $rc -eq 0 ]] || fail "$name: exit code $rc after SIGTERM: $(cat "$home/output.txt")"
  grep -q 'CANNOT LOAD DLL' "$log" && fail "$name: the sensor plugin was not found: $(cat "$log")"
  grep -q "Exec=\"$root/usr/bin/varnoks-pilot\"" "$home/config/autostart/DeviceMonitorStartTask.desktop" ||
    fail "$name: autostart entry does not start the installed program"
  [[ -e "$root/usr/bin/logs" ]] && fail "$name: wrote a logs folder beside the installed program"
  echo "smoke: $name: ran, logged to ${log#"$work"/}, ended on SIGTERM"
}

# The simulated sensors, named bare: found through the RPATH.
run_program simulated VARNOKS_SENSOR_LIBRARY=libvarnoks-sensors-sim.so VARNOKS_SENSOR_FIXTURE="$fixture"
# The default plugin, found by the program itself.
run_program default
echo "smoke: package $(basename "$deb") passed"
