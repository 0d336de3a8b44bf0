#!/usr/bin/env bash
# Runs the SocketCAN tests against a real Linux CAN stack: boots Debian's stock
# kernel under QEMU with a small initramfs (busybox, the CAN modules, the test
# programs and their shared libraries), creates vcan0, runs the tests inside and
# returns their status. The build machines' own kernel has no CAN support.
#
# Usage: scripts/vm-test.sh [BUILD_DIR]   (default: build, already built)
# The kernel and busybox packages are downloaded with apt-get and unpacked, never
# installed, into KINETRA_VM_CACHE (default ~/.cache/kinetra-vm), where they stay
# for the next run. Software emulation (TCG) unless /dev/kvm is usable.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(readlink -f "${1:-build}")
cache=${KINETRA_VM_CACHE:-$HOME/.cache/kinetra-vm}
# Bounds: a download, the boot and the whole run inside the machine.
download_seconds=${KINETRA_VM_DOWNLOAD_SECONDS:-300}
vm_seconds=${KINETRA_VM_SECONDS:-420}
started=$(date +%s)
log() { echo "vm-test: $*" >&2; }

for program in kinetra_tests; do
  [ -x "$build/tests/$program" ] || { log "$build/tests/$program is missing: build first (make build)"; exit 2; }
done
[ -x "$build/kinetra" ] && [ -x "$build/kinetra-sim" ] || { log "kinetra and kinetra-sim are missing in $build"; exit 2; }

# Host tools: QEMU, can-utils (copied into the image), cpio and xz.
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
command -v candump >/dev/null || need+=(can-utils)
command -v cpio >/dev/null || need+=(cpio)
command -v xz >/dev/null || need+=(xz-utils)
if [ ${#need[@]} -gt 0 ]; then
  log "installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  timeout "$download_seconds" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null \
    || { timeout "$download_seconds" apt-get update -qq && \
         timeout "$download_seconds" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; }
fi

# Downloads Debian package $1 (unpacked, not installed) into $cache/$1 once.
unpack() {
  local package=$1 dir=$cache/$1
  if [ ! -f "$dir/.complete" ]; then
    local tmp
    tmp=$(mktemp -d)
    log "downloading $package"
    (cd "$tmp" && { timeout "$download_seconds" apt-get download -qq "$package" 2>/dev/null \
       || { timeout "$download_seconds" apt-get update -qq && timeout "$download_seconds" apt-get download -qq "$package"; }; })
    rm -rf "$dir"
    mkdir -p "$dir"
    dpkg-deb -x "$tmp"/*.deb "$dir"
    rm -rf "$tmp"
    touch "$dir/.complete"
  fi
  echo "$dir"
}

# linux-image-amd64 only depends on the versioned kernel package: fetch that one.
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
if [ -z "$kernel_package" ]; then
  timeout "$download_seconds" apt-get update -qq
  kernel_package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
fi
[ -n "$kernel_package" ] || { log "cannot resolve linux-image-amd64's kernel package"; exit 2; }
kernel_dir=$(unpack "$kernel_package")
busybox_dir=$(unpack busybox-static)
vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-* | head -1)
modules_dir=$(ls -d "$kernel_dir"/lib/modules/* | head -1)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,run,modules,tests,etc}
cp "$busybox_dir/bin/busybox" "$root/bin/busybox"

# The CAN modules and those they depend on, in load order. The unpacked package
# has no modules.dep (depmod makes it at install): each module names its
# dependencies in its .modinfo section ("depends=a,b").
declare -A loaded=()
order=()
module_file() { find "$modules_dir/kernel" -name "$1.ko" -o -name "$1.ko.xz" -o -name "$1.ko.zst" | head -1; }
module_depends() {
  case "$1" in
    *.xz) xz -dc "$1" ;;
    *.zst) zstd -dqc "$1" ;;
    *) cat "$1" ;;
  esac | strings -a | sed -n 's/^depends=//p' | tr ',' ' '
}
add_module() {
  local name=$1 file dep
  [ -n "${loaded[$name]+set}" ] && return
  loaded[$name]=1
  file=$(module_file "$name")
  [ -n "$file" ] || { log "module $name not found in $modules_dir"; exit 2; }
  for dep in $(module_depends "$file"); do add_module "$dep"; done
  order+=("$file")
}
for name in can-dev can can-raw vcan; do add_module "$name"; done
for file in "${order[@]}"; do
  target="$root/modules/$(basename "$file" | sed 's/\.\(xz\|zst\)$//')"
  case "$file" in
    *.xz) xz -dc "$file" > "$target" ;;
    *.zst) zstd -dqc "$file" > "$target" ;;
    *) cp "$file" "$target" ;;
  esac
  basename "$target" >> "$root/modules/order"
done

# The programs and every shared library they load, at the same paths.
programs=("$build/tests/kinetra_tests" "$build/kinetra" "$build/kinetra-sim" "$(command -v candump)" "$(command -v cansend)")
# The benchmark when the build has it (BENCH=ON): its figures are reported, not judged.
[ -x "$build/bench/socketcan_bench" ] && programs+=("$build/bench/socketcan_bench")
# The image generator for the firmware update, when the build has the examples.
[ -x "$build/examples/firmware_image" ] && programs+=("$build/examples/firmware_image")
for program in "${programs[@]}"; do
  strip -o "$root/tests/$(basename "$program")" "$program" 2>/dev/null || cp "$program" "$root/tests/"
  for library in $(ldd "$program" | awk '/=> \// {print $3} /^[ \t]*\// {print $1}'); do
    mkdir -p "$root$(dirname "$library")"
    [ -e "$root$library" ] || cp -L "$library" "$root$library"
  done
done
cp scripts/vm-tests-inside.sh "$root/tests/run.sh"

cat > "$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
# Not a tmpfs over /tmp: a build under /tmp (a CI clone) has its libraries there,
# copied into this image at their own paths.
mkdir -p /tmp
for module in $(cat /modules/order); do insmod /modules/$module || echo "insmod $module failed"; done
ip link set lo up
ip link add dev vcan0 type vcan && ip link set vcan0 up
cd /tests && PATH=/tests:$PATH sh /tests/run.sh
echo "KINETRA-VM-RESULT $?"
sync
poweroff -f
INIT
chmod +x "$root/init" "$root/tests/run.sh"

initrd=$cache/initrd.cpio.gz
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$initrd"
prepared=$(date +%s)
log "image ready in $((prepared - started)) s ($(du -h "$initrd" | cut -f1)); booting $(basename "$vmlinuz")"

accel=(-accel tcg)
if [ -r /dev/kvm ] && [ -w /dev/kvm ] && grep -qE 'vmx|svm' /proc/cpuinfo; then accel=(-accel kvm -accel tcg); fi
output=$cache/console.log
set +e
timeout "$vm_seconds" qemu-system-x86_64 "${accel[@]}" -m 2048 -smp 2 -nographic -no-reboot \
  -kernel "$vmlinuz" -initrd "$initrd" -append "console=ttyS0 quiet panic=-1" < /dev/null | tee "$output"
qemu_status=${PIPESTATUS[0]}
set -e
result=$(tr -d '\r' < "$output" | awk '/^KINETRA-VM-RESULT / {print $2}' | tail -1)
log "finished in $(( $(date +%s) - started )) s (the machine ran $(( $(date +%s) - prepared )) s)"
if [ -z "$result" ]; then
  log "no result from the machine (qemu exit $qemu_status; 124 is the ${vm_seconds} s bound)"
  exit 1
fi
exit "$result"
