#!/usr/bin/env bash
# The program on the real kernel: boots Debian's cloud kernel under qemu
# (TCG, no KVM needed) with an initramfs made by build-image.sh, in which
# varnoks-devsim --uhid makes the displays real HID devices and the program
# finds them through hidapi and the udev monitor. guest-init.sh runs the
# cases and prints one "VARNOKS-GUEST PASS|FAIL NAME ..." line each on the
# serial console; every run_case line of it must come back as PASS.
#
#   tst_kernel_guest.sh BUILD_DIR
#
# Exits 77 (skipped) with one message when qemu or the Debian packages are
# out of reach, except under CI=true, where that is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work="$build/kernel-guest"
SKIP=77
TIMEOUT=150

cant_run() {
    if [[ "${CI:-}" == "true" ]]; then
        echo "FAIL: $1 (CI installs it with scripts/deps)"
        exit 1
    fi
    echo "SKIP: $1"
    exit $SKIP
}

qemu=$(command -v qemu-system-x86_64 || true)
[[ -n "$qemu" ]] || cant_run "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
for tool in cpio dpkg-deb apt-get; do
    command -v "$tool" >/dev/null || cant_run "$tool is not installed"
done
for f in varnoks-pilot varnoks-devsim libvarnoks-sensors-sim.so; do
    [[ -e "$build/bin/$f" ]] || { echo "FAIL: $build/bin/$f is not built"; exit 1; }
done

# Debian's cloud kernel and a static busybox, downloaded once into the
# build tree and unpacked there; never installed.
mkdir -p "$work/debs"
fetch() { # PACKAGE: the .deb's path
    local deb
    deb=$(find "$work/debs" -name "${1}_*.deb" | head -n1)
    if [[ -z "$deb" ]]; then
        if ! (cd "$work/debs" && apt-get download -qq "$1" >/dev/null 2>&1); then
            # The package lists may be missing on a fresh machine.
            [[ $(id -u) -eq 0 ]] && apt-get update -qq >/dev/null 2>&1 || true
            (cd "$work/debs" && apt-get download -qq "$1" >/dev/null 2>&1) ||
                cant_run "apt-get download $1 failed (no network or no package lists)"
        fi
        deb=$(find "$work/debs" -name "${1}_*.deb" | head -n1)
    fi
    echo "$deb"
}
kernel_pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-cloud-amd64\)$/\1/p' | head -n1)
if [[ -z "$kernel_pkg" ]]; then
    [[ $(id -u) -eq 0 ]] && apt-get update -qq >/dev/null 2>&1 || true
    kernel_pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-cloud-amd64\)$/\1/p' | head -n1)
fi
[[ -n "$kernel_pkg" ]] || cant_run "apt knows no linux-image-cloud-amd64 (run apt-get update)"
# A kernel of an older security update is of no more use.
find "$work/debs" -maxdepth 1 -name 'linux-image-*.deb' ! -name "${kernel_pkg}_*" -delete
find "$work" -maxdepth 1 -type d -name 'linux-image-*' ! -name "${kernel_pkg}_*" -exec rm -rf {} +
kernel_deb=$(fetch "$kernel_pkg")
busybox_deb=$(fetch busybox-static)
for deb in "$kernel_deb" "$busybox_deb"; do
    tree="$work/$(basename "$deb" .deb)"
    [[ -d "$tree" ]] || { dpkg-deb -x "$deb" "$tree.tmp" && mv "$tree.tmp" "$tree"; }
done
kernel_tree="$work/$(basename "$kernel_deb" .deb)"
busybox_tree="$work/$(basename "$busybox_deb" .deb)"
vmlinuz=$(echo "$kernel_tree"/boot/vmlinuz-*)

started=$(date +%s.%N)
"$here/build-image.sh" "$work/initramfs.cpio" "$kernel_tree" "$busybox_tree" "$build" "$here/guest-init.sh"
built=$(date +%s.%N)

console="$work/console.log"
rm -f "$console"
status=0
timeout -k 5 "$TIMEOUT" "$qemu" -accel tcg -M pc -cpu max -smp 2 -m 768 \
    -nodefaults -no-user-config -display none -no-reboot \
    -serial "file:$console" \
    -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 rdinit=/init panic=-1 quiet loglevel=3" || status=$?
ended=$(date +%s.%N)
[[ -e "$console" ]] || touch "$console"

grep 'VARNOKS-GUEST' "$console" | tr -d '\r' || true
awk -v s="$started" -v b="$built" -v e="$ended" \
    'BEGIN { printf "kernel-guest: image %.1f s, boot to power-off %.1f s\n", b - s, e - b }'

failed=0
if [[ $status -ne 0 ]]; then
    echo "FAIL: qemu ended with status $status$([[ $status -eq 124 ]] && echo " (timed out after $TIMEOUT s)")"
    failed=1
fi
for name in $(sed -n 's/^run_case \([^ ]*\) .*/\1/p' "$here/guest-init.sh"); do
    if ! tr -d '\r' <"$console" | grep -q "^VARNOKS-GUEST PASS $name\( \|$\)"; then
        echo "FAIL: no PASS line for $name"
        failed=1
    fi
done
if tr -d '\r' <"$console" | grep -q '^VARNOKS-GUEST FAIL'; then
    failed=1
fi
tr -d '\r' <"$console" | grep -q '^VARNOKS-GUEST END' || { echo "FAIL: the guest did not finish"; failed=1; }
if [[ $failed -ne 0 ]]; then
    echo "--- serial console (last 60 lines)"
    tail -n 60 "$console"
    exit 1
fi
echo "kernel-guest: all cases passed"
