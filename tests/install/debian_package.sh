#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cpack -G DEB` from this build tree: the package's dependencies come from
# the executables, it holds what `cmake --install` lays out under /usr plus
# Debian's copyright and changelog, its scripts reload udev only where a
# udev of this system runs, and lintian finds no errors.
set -uo pipefail
. "$(dirname "$0")/checks.sh"
need_tools cmake cpack dpkg-deb dpkg-shlibdeps lintian

root=$VCC_SCRATCH/debian_package
fresh_dir "$root"

if ! cpack --config "$VCC_BUILD_DIR/CPackConfig.cmake" -G DEB -B "$root/out" >"$root/cpack.log" 2>&1; then
  cat "$root/cpack.log"
  echo "cpack failed"
  echo "$passed passed, 1 failed"
  exit 1
fi
debs=("$root"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "expected one package in $root/out, found: ${debs[*]}"
  echo "$passed passed, 1 failed"
  exit 1
fi
deb=${debs[0]}
echo "package: ${deb##*/}"
dpkg-deb --info "$deb"

# --- control data
field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = vornalith-control-centre
check "version is the project's, Debian revision 1" test "$(field Version)" = "$VCC_PROJECT_VERSION-1"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6dbus6 \
           libusb-1.0-0 libcanberra0; do
  check "Depends names $lib (from the executables' libraries)" \
    grep -qxF "$lib" <(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
done
check "Depends names libcanberra-pulse, without which the alarm is silent" \
  grep -qxF libcanberra-pulse <(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
check "Depends names Qt's SQLite driver, without which the history is never saved" \
  grep -qxF libqt6sql6-sqlite <(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
check "Recommends udev, which applies the access rule" grep -q udev <<<"$(field Recommends)"
check "description has a synopsis and an extended text" \
  test "$(field Description | wc -l)" -gt 3

# --- contents against an install of the same tree
install_tree "$root/destdir" /usr
(cd "$root/destdir" && find . \! -type d | sed 's:^\./::' | sort) >"$root/install.list"
{ cat "$root/install.list"
  printf '%s\n' usr/share/doc/vornalith-control-centre/copyright \
                usr/share/doc/vornalith-control-centre/changelog.Debian.gz
} | sort >"$root/want.list"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's:^\./::' | sort >"$root/deb.list"
check "package holds the install tree and Debian's two documentation files" \
  diff -u "$root/want.list" "$root/deb.list"
check "package holds the installer's polkit action" \
  grep -qxF "${VCC_POLKIT_ACTIONS_DIR#/}/org.quelmark.VornalithControlCentre.policy" "$root/deb.list"
check "every file owned by root" \
  bash -c '! dpkg-deb -c "$1" | awk "\$2 != \"root/root\"" | grep -q .' _ "$deb"
check "programs and the rule installer executable, nothing else" \
  diff -u <(dpkg-deb -c "$deb" | awk '$1 ~ /^-..x/ {print $6}' | sed 's:^\./::' | sort) \
          <(printf '%s\n' usr/bin/vornalith-control-centre usr/bin/vornalith-control-centre-sim \
                          usr/share/vornalith-control-centre/wdreg | sort)

# --- maintainer scripts, run against a stand-in udevadm
dpkg-deb -e "$deb" "$root/control"
mkdir -p "$root/fakebin"
cat >"$root/fakebin/udevadm" <<'FAKE'
#!/bin/sh
echo "udevadm $*" >>"$UDEVADM_LOG"
exit "${UDEVADM_EXIT:-0}"
FAKE
chmod +x "$root/fakebin/udevadm"
# The scripts reach udev only where its control socket is there and the
# system is not a chroot; a CI container has neither, a desktop has both.
if [ -S /run/udev/control ] && [ "$(stat -c %d/%i /)" = "$(stat -Lc %d/%i /proc/1/root 2>/dev/null)" ]; then
  udev_here=yes
else
  udev_here=no
fi
vendor=$(rule_id idVendor | tr A-F a-f)
product=$(rule_id idProduct | tr A-F a-f)
for script in postinst:configure postrm:remove; do
  name=${script%%:*} arg=${script#*:}
  check "$name is in the package and executable" test -x "$root/control/$name"
  for udevadm_exit in 0 1; do
    log=$root/udevadm-$name-$udevadm_exit.log
    : >"$log"
    check "$name $arg succeeds (udevadm exits $udevadm_exit, udev here: $udev_here)" \
      env PATH="$root/fakebin:$PATH" UDEVADM_LOG="$log" UDEVADM_EXIT=$udevadm_exit \
        sh "$root/control/$name" "$arg"
  done
  log=$root/udevadm-$name-0.log
  if [ "$udev_here" = yes ]; then
    check "$name reloads the rules and replays only the unit's events" \
      diff -u <(printf '%s\n' "udevadm control --reload-rules" \
                 "udevadm trigger --action=change --subsystem-match=usb --attr-match=idVendor=$vendor --attr-match=idProduct=$product") \
              "$log"
  else
    check "$name leaves udev alone where it does not run" test ! -s "$log"
  fi
done
: >"$root/udevadm-upgrade.log"
env PATH="$root/fakebin:$PATH" UDEVADM_LOG="$root/udevadm-upgrade.log" sh "$root/control/postrm" upgrade
check "postrm leaves udev alone on an upgrade (the new postinst reloads)" test ! -s "$root/udevadm-upgrade.log"
check "maintainer scripts with the unit's ids filled in" \
  bash -c '! grep -q @ "$1/postinst" "$1/postrm"' _ "$root/control"

# --- lintian: errors fail, the rest is listed
lintian_out=$(lintian --pedantic "$deb" 2>&1 | grep -v 'running with root privileges')
echo "lintian:"
printf '%s\n' "${lintian_out:-(nothing)}" | sed 's/^/    /'
check "lintian reports no errors" bash -c '! grep -q "^E:" <<<"$1"' _ "$lintian_out"

summary
