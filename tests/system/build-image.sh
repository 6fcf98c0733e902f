#!/usr/bin/env bash
# Builds the guest's initramfs (an uncompressed cpio archive):
#   build-image.sh IMAGE KERNEL_TREE BUSYBOX_TREE BUILD_DIR INIT_SCRIPT
# KERNEL_TREE and BUSYBOX_TREE are the unpacked Debian packages. The image
# holds busybox, the kernel's hid, hid-generic and uhid modules with what
# they need, systemd-udevd and udevadm of this machine, the udev rule as the
# package installs it, varnoks-pilot, varnoks-devsim and the simulated
# sensors from BUILD_DIR, Qt's offscreen platform, and every library these
# load, found by ldd.
set -euo pipefail
image=$1 kernel=$2 busybox=$3 build=$4 init=$5

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,usr/bin,lib/systemd,modules,opt/varnoks,etc,proc,sys,dev,run,tmp}

cp "$busybox/bin/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$init" "$root/init"
chmod 755 "$root/init"

# The modules, each after those it depends on ("depends=" in its modinfo).
moddir=$(echo "$kernel"/lib/modules/*)
declare -A loaded=()
order=()
add_module() {
    local name=$1 file deps dep
    [[ -n "${loaded[$name]:-}" ]] && return
    loaded[$name]=1
    file=$(find "$moddir/kernel" \( -name "$name.ko" -o -name "$name.ko.xz" -o -name "$name.ko.zst" \) | head -n1)
    if [[ -z "$file" ]]; then
        # Built into this kernel: nothing to load.
        grep -q "/$name.ko" "$moddir/modules.builtin" && return
        echo "build-image: module $name not found in $moddir" >&2
        exit 1
    fi
    case "$file" in
    *.xz) xz -dc "$file" >"$root/modules/$name.ko" ;;
    *.zst) zstd -qdc "$file" >"$root/modules/$name.ko" ;;
    *) cp "$file" "$root/modules/$name.ko" ;;
    esac
    deps=$(tr '\0' '\n' <"$root/modules/$name.ko" | sed -n 's/^depends=//p' | head -n1)
    for dep in ${deps//,/ }; do
        add_module "${dep//_/-}"
    done
    order+=("$name.ko")
}
for module in hid hid-generic uhid; do
    add_module "$module"
done
printf '%s\n' "${order[@]}" >"$root/modules/order"

# Programs, at their paths on this machine or under /opt/varnoks.
udevadm=$(command -v udevadm || echo /bin/udevadm)
cp -L "$udevadm" "$root/usr/bin/udevadm"
ln -s /usr/bin/udevadm "$root/lib/systemd/systemd-udevd"
for f in varnoks-pilot varnoks-devsim libvarnoks-sensors-sim.so; do
    cp -L "$build/bin/$f" "$root/opt/varnoks/$f"
done
qtplugins=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
offscreen="$qtplugins/platforms/libqoffscreen.so"
mkdir -p "$root$qtplugins/platforms"
cp -L "$offscreen" "$root$offscreen"

# The udev rule exactly as the package installs it.
staging=$(mktemp -d)
DESTDIR="$staging" cmake --install "$build" --component udev >/dev/null
rule=$(find "$staging" -name '*varnoks*.rules' | head -n1)
[[ -n "$rule" ]] || { echo "build-image: the udev component installs no rule" >&2; exit 1; }
mkdir -p "$root$(dirname "${rule#"$staging"}")"
cp "$rule" "$root${rule#"$staging"}"
rm -rf "$staging"

# Every library, at the path the loader finds it on this machine.
for elf in "$root/usr/bin/udevadm" "$root"/opt/varnoks/* "$root$offscreen" \
    /usr/lib/x86_64-linux-gnu/systemd/libsystemd-shared-*.so; do
    [[ -e "$elf" ]] || continue
    ldd "$elf" | awk '/=> \// { print $3 } /^\t\/[^ ]*ld-linux/ { print $1 }'
done | sort -u | while read -r lib; do
    [[ -e "$root$lib" ]] && continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
# The loader also under the name the programs ask for.
mkdir -p "$root/lib64"
[[ -e "$root/lib64/ld-linux-x86-64.so.2" ]] || cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"

(cd "$root" && find . -print0 | cpio --null -o -H newc --quiet) >"$image.tmp"
mv "$image.tmp" "$image"
