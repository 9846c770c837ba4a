#!/usr/bin/env bash
# Boots a small virtual machine whose kernel has uhid, runs the uhid test
# program in it against real /dev/hidraw devices, and reports its result.
#   uhid-vm-test.sh BIN_DIR WORK_DIR
# BIN_DIR holds tks7730-sim, libZervDCom.so and tks7730sim_uhid_vm_test.
# Needs qemu-system-x86_64, a kernel in /boot with its modules, busybox-static
# and cpio. Without them it fails under CI=true and skips (exit 77) otherwise.
# ZRQ_VM_KERNEL picks a kernel image, ZRQ_VM_ACCEL the accelerator (default
# tcg: nested KVM on these hosts hangs the guest before its first console line).
set -uo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
bin=$(cd "$1" && pwd) || exit 2
work=$2
started=$(date +%s.%N)
rm -rf "$work" && mkdir -p "$work" || exit 1

missing() {
  if [ "${CI:-}" = true ]; then
    printf 'uhid VM test: %s\nuhid VM test: FAILED (missing in CI)\n' "$*" | tee "$work/summary.txt"
    exit 1
  fi
  printf 'uhid VM test: %s\nuhid VM test: SKIPPED\n' "$*" | tee "$work/summary.txt"
  exit 77
}

qemu=$(command -v qemu-system-x86_64) || missing "qemu-system-x86_64 not found (Debian qemu-system-x86)"
busybox=""
for b in /bin/busybox /usr/bin/busybox; do
  if [ -x "$b" ] && ! ldd "$b" >/dev/null 2>&1; then busybox=$b; break; fi
done
[ -n "$busybox" ] || missing "no statically linked busybox (Debian busybox-static)"
command -v cpio >/dev/null || missing "cpio not found"
kernel=${ZRQ_VM_KERNEL:-$(ls -1 /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)}
[ -n "$kernel" ] && [ -r "$kernel" ] || missing "no readable kernel in /boot (Debian linux-image-amd64)"
kver=${kernel##*/vmlinuz-}
moddir=/lib/modules/$kver
[ -d "$moddir" ] || missing "no modules for $kver in $moddir"
for f in tks7730-sim libZervDCom.so tks7730sim_uhid_vm_test; do
  [ -x "$bin/$f" ] || [ -f "$bin/$f" ] || { echo "uhid VM test: $bin/$f not built"; exit 1; }
done

root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,zrq/bin,zrq/modules} || exit 1

# Programs, and every shared library they load, at the same paths as here.
copy_with_libs() {
  local f=$1 dest=$2 lib
  cp -L "$f" "$root$dest" || return 1
  # Debug information only slows the emulated unpacking down.
  if command -v strip >/dev/null; then strip --strip-debug "$root$dest" 2>/dev/null; fi
  while read -r lib; do
    [ -f "$lib" ] || continue
    mkdir -p "$root$(dirname "$lib")"
    [ -e "$root$lib" ] || cp -L "$lib" "$root$lib"
  done < <(ldd "$f" 2>/dev/null | grep -oE '/[^ ]+')
}
for f in tks7730-sim libZervDCom.so tks7730sim_uhid_vm_test; do
  copy_with_libs "$bin/$f" "/zrq/bin/$f" || exit 1
done
cp "$busybox" "$root/bin/busybox"

# The HID core, the generic driver that makes hidraw nodes, and uhid, each
# after what it needs; compressed modules are unpacked for busybox insmod.
modules=()
add_module() {
  local name=$1 path dep
  for m in "${modules[@]}"; do [ "$m" = "$name" ] && return 0; done
  path=$(modinfo -k "$kver" -n "$name" 2>/dev/null) || path=$(find "$moddir" -name "$name.ko*" | head -n 1)
  [ -n "$path" ] && [ -f "$path" ] || { echo "uhid VM test: module $name not found for $kver"; return 1; }
  for dep in $(modinfo -F depends "$path" 2>/dev/null | tr ',' ' '); do add_module "$dep" || return 1; done
  case "$path" in
    *.ko.xz) xz -dc "$path" > "$root/zrq/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$path" > "$root/zrq/modules/$name.ko" ;;
    *.ko.gz) gzip -dc "$path" > "$root/zrq/modules/$name.ko" ;;
    *) cp "$path" "$root/zrq/modules/$name.ko" ;;
  esac || return 1
  modules+=("$name")
}
for m in hid hid-generic uhid; do add_module "$m" || exit 1; done

cat > "$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp/run /tmp/log && chmod 700 /tmp/run
for m in ${modules[*]}; do insmod /zrq/modules/\$m.ko || echo "ZRQ-VM insmod \$m failed"; done
echo "ZRQ-VM uhid: \$(ls -l /dev/uhid 2>&1)"
cd /tmp
ZRQ_BIN_DIR=/zrq/bin XDG_RUNTIME_DIR=/tmp/run ZRQ_LOG_DIR=/tmp/log \
  /zrq/bin/tks7730sim_uhid_vm_test --gtest_color=no
echo "ZRQ-VM-RESULT rc=\$?"
poweroff -f
INIT
chmod 755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio" || exit 1

accel="-accel ${ZRQ_VM_ACCEL:-tcg}"
built=$(date +%s.%N)
console=$work/console.log
# shellcheck disable=SC2086
timeout 170 "$qemu" $accel -m 512M -smp 1 -nodefaults -no-user-config -display none -no-reboot \
  -nic none -serial "file:$console" -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 panic=-1 quiet rdinit=/init" </dev/null
qrc=$?
ended=$(date +%s.%N)

report() {
  echo "--- uhid VM test (kernel $kver, $accel) ---"
  grep -E '^(ZRQ-VM|\[ *(RUN|OK|FAILED|SKIPPED|PASSED|==========) *\]|.*Failure|Expected|Which is|  Actual|Value of|.*: error)' "$console" | tr -d '\r'
  passed=$(grep -cE '^\[ +OK \]' "$console")
  failed=$(grep -cE '^\[  FAILED  \] [A-Za-z]+\.[A-Za-z]+ \(' "$console")
  awk -v a="$started" -v b="$built" -v c="$ended" -v q="$qrc" \
    'BEGIN { printf "uhid VM test: initramfs %.1f s, boot and tests %.1f s, qemu exit %d\n", b - a, c - b, q }'
  echo "uhid VM test: $passed passed, $failed failed inside the VM"
  result=$(grep -oE 'ZRQ-VM-RESULT rc=[0-9]+' "$console" | tail -n 1 | cut -d= -f2)
  if [ "$result" = 0 ] && [ "$passed" -gt 0 ] && [ "$failed" = 0 ]; then
    echo "uhid VM test: PASSED"
    return 0
  fi
  [ -n "$result" ] || { echo "uhid VM test: no result line on the console; its end:"; tail -n 30 "$console"; }
  echo "uhid VM test: FAILED"
  return 1
}
# The summary is also kept beside the console log for the test command to show.
report | tee "$work/summary.txt"
exit "${PIPESTATUS[0]}"
