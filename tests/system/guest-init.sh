#!/bin/sh
# The guest's /init (busybox sh): the real kernel's HID stack, systemd-udevd
# with the packaged rule, the program on the hidapi backend and the udev
# monitor, and varnoks-devsim --uhid as the displays. Each case is one
# run_case line below; it prints "VARNOKS-GUEST PASS|FAIL NAME detail" on
# the serial console, which the host reads.

/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/sbin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /run /tmp /dev/pts
mount -t tmpfs run /run
mount -t tmpfs tmp /tmp
ip link set lo up

say() { echo "VARNOKS-GUEST $*"; }
FAILED=
finish() {
    if [ -n "$FAILED" ]; then
        for f in /tmp/pilot.out /tmp/devsim.err /tmp/udevd.err; do
            [ -s "$f" ] && tail -n 15 "$f" | sed "s|^|log ${f##*/}: |"
        done
    fi
    say END
    sync
    poweroff -f
}
trap finish EXIT

for module in $(cat /modules/order); do
    insmod "/modules/$module" || say "FAIL boot insmod $module"
done
[ -c /dev/uhid ] || { say "FAIL boot no /dev/uhid"; FAILED=1; exit 1; }

/lib/systemd/systemd-udevd --daemon --resolve-names=never 2>/tmp/udevd.err || {
    say "FAIL boot systemd-udevd did not start: $(cat /tmp/udevd.err)"
    exit 1
}

APP=/opt/varnoks
now_ms() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}0"; }
# Each line with the time it was read, in ms since boot (no process started
# per line, so the time is close to the line's).
stamp() {
    while IFS= read -r line; do
        read -r up _ </proc/uptime
        echo "${up%.*}${up#*.}0 $line"
    done
}

# --- displays ---------------------------------------------------------------
ALPHA_UUID=414C5048414C5048414C5031
BETA_UUID=42455441424554414245543F
mkfifo /tmp/devsim.in
( "$APP/varnoks-devsim" --uhid "alpha,uuid=$ALPHA_UUID,serial=A-1" "beta,uuid=$BETA_UUID,serial=B-2" \
    </tmp/devsim.in 2>/tmp/devsim.err | stamp >/tmp/devsim.log ) &
exec 3>/tmp/devsim.in
devsim() { echo "$*" >&3; }

# --- the program ------------------------------------------------------------
home=/tmp/home
mkdir -p "$home/config/KR_alvo" "$home/runtime" "$home/logs"
chmod 700 "$home/runtime"
# Fahrenheit, so the reports show the settings were read.
printf '[General]\ntemperature%%20unit=1\n' >"$home/config/KR_alvo/VarnoksPilot.conf"
cat >"$home/sensors.json" <<'JSON'
{"init": 0, "sensors": [
  {"name": "CPU [coretemp-isa-0000] DTS", "readings": [
    {"kind": 1, "slot": 0, "label": "CPU Package", "unit": "\u00b0C", "values": [61.7]}]},
  {"name": "[dell_smm-virtual-0]", "readings": [
    {"kind": 3, "slot": 0, "label": "CPU Processor Fan", "unit": "RPM", "values": [1480]}]},
  {"name": "GPU [amdgpu-pci-0300]", "readings": [
    {"kind": 1, "slot": 0, "label": "GPU Temperature", "unit": "\u00b0C", "values": [45.2]}]}]}
JSON

start_pilot() {
    env -i PATH="$PATH" HOME="$home" QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8 \
        XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state" XDG_DATA_HOME="$home/data" \
        XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/runtime" VARNOKS_LOG_DIR="$home/logs" \
        VARNOKS_SENSOR_LIBRARY="$APP/libvarnoks-sensors-sim.so" VARNOKS_SENSOR_FIXTURE="$home/sensors.json" \
        VARNOKS_UPDATE_SERVER=127.0.0.1:9 VARNOKS_HID_BACKEND=hidapi \
        "$APP/varnoks-pilot" >/tmp/pilot.out 2>&1 &
    PILOT=$!
}

# --- checks -----------------------------------------------------------------
run_log() { cat "$home"/logs/*.txt 2>/dev/null; }
# The newest "Tray device list" line of the program's run log.
tray_list() { run_log | grep 'Tray device list:' | tail -n 1; }

wait_until() { # TIMEOUT_MS CONDITION: true once the shell condition holds
    limit=$(($(now_ms) + $1))
    while ! eval "$2"; do
        [ "$(now_ms)" -lt "$limit" ] || return 1
        usleep 50000
    done
}

# DEVICE FROM_MS TO_MS: every report line of DEVICE in the time span against
# the fixture and the settings (Fahrenheit: 61.7 -> 141, 45.2 -> 113, and the
# thresholds 90/90/300 in that unit), byte by byte; prints
# "COUNT LONGEST_GAP BAD_LINES".
reports() {
    awk -v dev="$1" -v from="$2" -v to="$3" '
        $2 == dev && $3 == "report" && $1 >= from && $1 <= to {
            item = substr($4, 6) + 0
            alarm = item == 1 ? 1 : item == 4 ? 4 : 0
            want = sprintf("raw=20%02x01%02x00008d00007100%04x", item, alarm, 1480)
            while (length(want) < 4 + 128) want = want "00"
            if ($NF != want || (item != 1 && item != 4 && item != 16)) bad++
            if (n > 0 && $1 - last > gap) gap = $1 - last
            last = $1; n++
        }
        END { printf "%d %d %d\n", n, gap, bad }' /tmp/devsim.log
}
identified_since() { # DEVICE FROM_MS
    awk -v dev="$1" -v from="$2" '$2 == dev && $3 == "identify" && $1 >= from { n++ } END { exit n ? 0 : 1 }' \
        /tmp/devsim.log
}
first_report_since() { # DEVICE FROM_MS: its time, or nothing
    awk -v dev="$1" -v from="$2" '$2 == dev && $3 == "report" && $1 >= from { print $1; exit }' /tmp/devsim.log
}
has_report_since() { [ -n "$(first_report_since "$1" "$2")" ]; }

run_case() { # NAME FUNCTION: runs in this shell, so the program it starts stays its child
    "$2" >/tmp/case.out 2>&1
    result=$?
    detail=$(tr '\n' ' ' </tmp/case.out)
    if [ "$result" -eq 0 ]; then
        say "PASS $1 $detail"
    else
        say "FAIL $1 $detail"
        FAILED=1
    fi
}

# --- cases ------------------------------------------------------------------
case_nodes_tagged_by_packaged_rule() {
    wait_until 10000 '[ -c /dev/hidraw0 ] && [ -c /dev/hidraw1 ]' || { echo "no hidraw nodes"; return 1; }
    udevadm settle -t 10
    out=""
    for sys in /sys/class/hidraw/hidraw*; do
        node=${sys##*/}
        parent=$(basename "$(readlink -f "$sys/device")")
        data=/run/udev/data/c$(cat "$sys/dev")
        grep -qx 'G:uaccess' "$data" || { echo "$node ($parent): no uaccess tag in $data"; return 1; }
        out="$out $node:$parent:uaccess"
    done
    echo "$out"
}

case_report_number_zero_is_not_sent() {
    # As hidapi writes to a device without numbered reports: report number
    # 0, then the report. The firmware must get the report alone.
    t0=$(now_ms)
    { printf '\000\020\001'; head -c 63 /dev/zero; } >/tmp/request
    dd if=/tmp/request of=/dev/hidraw0 bs=66 count=1 2>/dev/null # one write, one report
    wait_until 3000 'awk -v from=$t0 '"'"'$3 == "identify" && $1 >= from { found = 1 } END { exit !found }'"'"' /tmp/devsim.log' ||
        { echo "no identification seen; $(tail -n 2 /tmp/devsim.err)"; return 1; }
    ! grep -q 'unknown report 0x00' /tmp/devsim.err || { echo "the report number reached the firmware"; return 1; }
    awk -v from="$t0" '$3 == "identify" && $1 >= from { print $2 " identified by a 66-byte write" }' /tmp/devsim.log
}

case_two_displays_identified_and_served() {
    t0=$(now_ms)
    start_pilot
    wait_until 15000 'has_report_since alpha $t0 && has_report_since beta $t0' ||
        { echo "no reports; $(tail -n 5 /tmp/pilot.out)"; return 1; }
    identified_since alpha "$t0" && identified_since beta "$t0" || { echo "not identified"; return 1; }
    from=$(now_ms)
    sleep 4
    to=$(now_ms)
    for dev in alpha beta; do
        set -- $(reports $dev "$from" "$to")
        echo "$dev: $1 reports, longest gap $2 ms, $3 wrong;"
        [ "$1" -ge 7 ] && [ "$2" -le 600 ] && [ "$3" -eq 0 ] || return 1
    done
    tray=$(tray_list)
    case "$tray" in *"$ALPHA_UUID"*"$BETA_UUID"* | *"$BETA_UUID"*"$ALPHA_UUID"*) ;; *)
        echo "tray: $tray"; return 1 ;;
    esac
}

case_removed_display_leaves_and_comes_back() {
    t0=$(now_ms)
    devsim unplug beta
    wait_until 3000 'tray_list | grep -q "$ALPHA_UUID" && ! tray_list | grep -q "$BETA_UUID"' || { echo "tray after removal: $(tray_list)"; return 1; }
    left=$(($(now_ms) - t0))
    sleep 1
    set -- $(reports beta $(($(now_ms) - 500)) 999999999)
    [ "$1" -eq 0 ] || { echo "beta still served after removal"; return 1; }
    t1=$(now_ms)
    devsim plug beta
    wait_until 5000 'has_report_since beta $t1' || { echo "beta not served again"; return 1; }
    identified_since beta "$t1" || { echo "beta served before identified"; return 1; }
    back=$(($(first_report_since beta "$t1") - t1))
    wait_until 2000 'tray_list | grep -q "$BETA_UUID"' || { echo "tray: $(tray_list)"; return 1; }
    echo "left the tray list after ${left} ms, served again ${back} ms after replug"
    [ "$back" -le 2000 ]
}

case_silent_display_does_not_delay_the_other() {
    devsim fault alpha silent
    sleep 1
    from=$(now_ms)
    sleep 4
    to=$(now_ms)
    set -- $(reports beta "$from" "$to")
    echo "beta beside a silent alpha: $1 reports, longest gap $2 ms;"
    [ "$1" -ge 7 ] && [ "$2" -le 600 ] && [ "$3" -eq 0 ] || return 1
    # The silent one is still written to.
    n=$(awk -v from="$from" '$2 == "alpha" && $1 >= from { n++ } END { print n + 0 }' /tmp/devsim.log)
    echo "alpha still tried $n times"
    [ "$n" -ge 1 ]
}

case_faults_stay_with_their_display() {
    from=$(now_ms)
    refused=$(run_log | grep -c 'reply error')
    identified=$(awk '$2 == "alpha" && $3 == "identify" { n++ } END { print n + 0 }' /tmp/devsim.log)
    # Each for two seconds; "drop" makes it leave the bus and come back.
    for fault in refuse slow:300 short flood stall mute drop; do
        devsim fault alpha $fault
        sleep 2
    done
    devsim fault alpha none
    healed=$(now_ms)
    set -- $(reports beta "$from" "$(now_ms)")
    echo "beta beside alpha's faults: $1 reports, longest gap $2 ms;"
    [ "$1" -ge 24 ] && [ "$2" -le 600 ] && [ "$3" -eq 0 ] || return 1
    [ "$(run_log | grep -c 'reply error')" -gt "$refused" ] || { echo "refusal not logged"; return 1; }
    again=$(awk '$2 == "alpha" && $3 == "identify" { n++ } END { print n + 0 }' /tmp/devsim.log)
    echo "alpha identified $((again - identified)) times while dropping;"
    [ "$again" -gt "$identified" ] || return 1
    wait_until 3000 'has_report_since alpha $healed' || { echo "alpha not served once healed"; return 1; }
    wait_until 2000 'tray_list | grep -q "$ALPHA_UUID"' || { echo "tray once healed: $(tray_list)"; return 1; }
    set -- $(reports alpha "$healed" 999999999)
    echo "alpha served again $(($(first_report_since alpha "$healed") - healed)) ms after healing"
    [ "$3" -eq 0 ]
}

case_sigterm_ends_program_with_a_stuck_display() {
    devsim fault alpha silent
    sleep 1
    t0=$(now_ms)
    kill -TERM "$PILOT"
    wait_until 5000 '[ ! -e /proc/$PILOT ] || [ "$(cut -d" " -f3 /proc/$PILOT/stat)" = Z ]' || { echo "still running after 5 s"; return 1; }
    wait "$PILOT"
    code=$?
    took=$(($(now_ms) - t0))
    echo "ended after ${took} ms with exit code $code"
    [ "$took" -le 2000 ] && [ "$code" -eq 0 ]
}

run_case rule-tags-node case_nodes_tagged_by_packaged_rule
run_case report-number-zero case_report_number_zero_is_not_sent
run_case two-displays-served case_two_displays_identified_and_served
run_case removal-and-replug case_removed_display_leaves_and_comes_back
run_case silent-beside-healthy case_silent_display_does_not_delay_the_other
run_case faults-stay-with-their-display case_faults_stay_with_their_display
run_case sigterm-with-stuck-display case_sigterm_ends_program_with_a_stuck_display

devsim quit
