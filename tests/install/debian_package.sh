#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cpack -G DEB` from this build tree: the package's dependencies come from
# the executables, it holds what `cmake --install` lays out under /usr plus
# Debian's copyright and changelog, its scripts reload udev only where a
# udev of this system runs and make the guard's user where the guard is,
# and lintian finds no errors.
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
executables=(usr/bin/vornalith-control-centre usr/bin/vornalith-control-centre-sim
             usr/share/vornalith-control-centre/wdreg)
guard_built && executables+=(usr/bin/vornalith-guard)
check "programs and the rule installer executable, nothing else" \
  diff -u <(dpkg-deb -c "$deb" | awk '$1 ~ /^-..x/ {print $6}' | sed 's:^\./::' | sort) \
          <(printf '%s\n' "${executables[@]}" | sort)

# --- the guard service: its files where their readers look on this system,
# its settings the administrator's, and its unit off until enabled
unit_dir=$(cache_var VCC_SYSTEMD_UNIT_DIR)
guard_conf=$(cache_var VCC_GUARD_CONFIG_DIR)/guard.conf
dpkg-deb -e "$deb" "$root/control"
if guard_built; then
  for f in "$unit_dir/vornalith-guard.service" "$(cache_var VCC_SYSUSERS_DIR)/vornalith-guard.conf" \
           "$(cache_var VCC_POLKIT_RULES_DIR)/50-vornalith-guard.rules" \
           "$VCC_UDEV_RULES_DIR/71-vornalith-guard.rules" "$guard_conf"; do
    check "package holds $f" grep -qxF "${f#/}" "$root/deb.list"
  done
  check "guard.conf is a conffile, the only one" test "$(cat "$root/control/conffiles" 2>&1)" = "$guard_conf"
  mkdir -p "$root/tree"
  dpkg-deb -x "$deb" "$root/tree"
  program=$(sed -n 's/^ExecStart=//p' "$root/tree$unit_dir/vornalith-guard.service")
  check "the packaged unit starts the packaged guard ($program)" test -x "$root/tree$program"
  check "nothing in the package enables the unit" \
    bash -c '! grep -q "^./etc/systemd" "$1"' _ <(dpkg-deb -c "$deb" | awk '{print $6}')
  check "Recommends polkitd, which reads the guard's power-off rule" grep -q polkitd <<<"$(field Recommends)"
else
  check "without the guard, no conffiles" test ! -e "$root/control/conffiles"
  check "without the guard, no prerm" test ! -e "$root/control/prerm"
  check "without the guard, nothing of it in the package" \
    bash -c '! grep -Eq "vornalith-guard|/etc/" "$1"' _ "$root/deb.list"
fi

# --- maintainer scripts, run against stand-ins of the tools they call
mkdir -p "$root/fakebin"
# The daemons' tools exit with FAKE_EXIT, useradd with FAKE_USERADD_EXIT, the
# other user tools with FAKE_USER_EXIT.
for tool in udevadm systemctl deb-systemd-invoke systemd-sysusers groupadd useradd; do
  case $tool in
    udevadm|systemctl|deb-systemd-invoke) status=FAKE_EXIT ;;
    useradd) status=FAKE_USERADD_EXIT ;;
    *) status=FAKE_USER_EXIT ;;
  esac
  cat >"$root/fakebin/$tool" <<FAKE
#!/bin/sh
echo "$tool \$*" >>"\$FAKE_LOG"
exit "\${$status:-0}"
FAKE
  chmod +x "$root/fakebin/$tool"
done
# run_script LOG SCRIPT ARGS...: with the stand-ins first on the PATH, each
# exiting with $fake_exit.
fake_exit=0
run_script() {
  local log=$1 script=$2
  shift 2
  : >"$log"
  env PATH="$root/fakebin:$PATH" FAKE_LOG="$log" FAKE_EXIT="$fake_exit" sh "$root/control/$script" "$@"
}
# The scripts reach udev only where its control socket is there and the
# system is not a chroot, and systemd only where it runs; a CI container has
# neither, a desktop has both.
live=no
[ "$(stat -c %d/%i /)" = "$(stat -Lc %d/%i /proc/1/root 2>/dev/null)" ] && live=yes
udev_here=no
[ -S /run/udev/control ] && udev_here=$live
systemd_here=no
[ -d /run/systemd/system ] && guard_built && systemd_here=$live
vendor=$(rule_id idVendor | tr A-F a-f)
product=$(rule_id idProduct | tr A-F a-f)
udev_calls=("udevadm control --reload-rules"
            "udevadm trigger --action=change --subsystem-match=usb --attr-match=idVendor=$vendor --attr-match=idProduct=$product")
for script in postinst:configure postrm:remove; do
  name=${script%%:*} arg=${script#*:}
  check "$name is in the package and executable" test -x "$root/control/$name"
  for fake_exit in 0 1; do
    check "$name $arg succeeds (the tools it calls exit $fake_exit, udev here: $udev_here)" \
      run_script "$root/calls-$name-$fake_exit.log" "$name" "$arg"
  done
  fake_exit=0
  log=$root/calls-$name-0.log
  if [ "$udev_here" = yes ]; then
    check "$name reloads the rules and replays only the unit's events" \
      diff -u <(printf '%s\n' "${udev_calls[@]}") <(grep '^udevadm' "$log")
  else
    check "$name leaves udev alone where it does not run" bash -c '! grep -q ^udevadm "$1"' _ "$log"
  fi
done
run_script "$root/calls-upgrade.log" postrm upgrade
check "postrm leaves udev alone on an upgrade (the new postinst reloads)" test ! -s "$root/calls-upgrade.log"
check "maintainer scripts with the unit's ids filled in" \
  bash -c '! grep -q @ "$1"/post* "$1"/pre*' _ "$root/control"

if guard_built; then
  # A first install makes the user before udev applies the rule naming its
  # group, and says how to switch the guard on; it switches nothing on.
  out=$(run_script "$root/calls-install.log" postinst configure)
  want=("systemd-sysusers vornalith-guard.conf")
  [ "$udev_here" = yes ] && want+=("${udev_calls[@]}")
  [ "$systemd_here" = yes ] && want+=("systemctl --system daemon-reload")
  check "postinst makes the guard's user first, then tells udev and systemd, and starts nothing" \
    diff -u <(printf '%s\n' "${want[@]}") "$root/calls-install.log"
  check "postinst says how to enable the guard" grep -qF 'systemctl enable --now vornalith-guard' <<<"$out"
  check "postinst fails when the guard's user cannot be made (the guard could not start)" \
    bash -c '! env FAKE_USER_EXIT=1 PATH="$1:$PATH" FAKE_LOG=/dev/null sh "$2" configure' \
      _ "$root/fakebin" "$root/control/postinst"
  out=$(run_script "$root/calls-upgrade-guard.log" postinst configure 1.0-1)
  check "an upgrade does not repeat how to enable the guard" test -z "$out"
  if [ "$systemd_here" = yes ]; then
    check "an upgrade restarts a running guard on the new program" \
      grep -qx 'deb-systemd-invoke try-restart vornalith-guard.service' "$root/calls-upgrade-guard.log"
  fi
  check "an upgrade never starts a guard that was not running" \
    bash -c '! grep -Eq "(systemctl|deb-systemd-invoke) (start|enable|restart)" "$1"' _ "$root/calls-upgrade-guard.log"
  run_script "$root/calls-prerm-remove.log" prerm remove
  run_script "$root/calls-prerm-upgrade.log" prerm upgrade 1.99-1
  if [ "$systemd_here" = yes ]; then
    check "prerm stops the guard on removal" \
      grep -qx 'deb-systemd-invoke stop vornalith-guard.service' "$root/calls-prerm-remove.log"
  else
    check "prerm leaves systemd alone where it does not run" test ! -s "$root/calls-prerm-remove.log"
  fi
  check "prerm keeps the guard watching through an upgrade" test ! -s "$root/calls-prerm-upgrade.log"

  # Into another root (dpkg --root): systemd-sysusers itself makes the user
  # from the packaged entry there, and no daemon of this system is touched.
  target=$root/target
  mkdir -p "$target/etc"
  : >"$target/etc/passwd"; : >"$target/etc/group"
  cp -a "$root/tree/." "$target/"
  if sysusers=$(command -v systemd-sysusers); then
    # Only ever into that root, even if the script forgot to say so.
    mkdir -p "$root/rootedbin"
    printf '#!/bin/sh\ncase "$1" in --root=%s) exec %s "$@" ;; esac\necho "not into %s: $*"; exit 1\n' \
      "$target" "$sysusers" "$target" >"$root/rootedbin/systemd-sysusers"
    chmod +x "$root/rootedbin/systemd-sysusers"
    check "postinst in another root succeeds" \
      env DPKG_ROOT="$target" PATH="$root/rootedbin:$PATH" sh "$root/control/postinst" configure
    check "the guard's system user there, at home in its state folder, with no login" \
      grep -Eq '^vornalith:x:[0-9]+:[0-9]+:Vornalith cooling unit guard:/var/lib/vornalith:/usr/sbin/nologin$' \
        "$target/etc/passwd"
    check "the guard's group there, the user's own" \
      test "$(awk -F: '$1 == "vornalith" {print $3}' "$target/etc/group")" = \
           "$(awk -F: '$1 == "vornalith" {print $4}' "$target/etc/passwd")"
  fi
  # Without systemd-sysusers: the same user through shadow's tools, once.
  mkdir -p "$root/minbin"
  for tool in stat rm; do ln -sf "$(command -v $tool)" "$root/minbin/$tool"; done
  for tool in groupadd useradd; do ln -sf "$root/fakebin/$tool" "$root/minbin/$tool"; done
  : >"$root/calls-shadow.log"
  env PATH="$root/minbin" FAKE_LOG="$root/calls-shadow.log" DPKG_ROOT="$target" \
    /bin/sh "$root/control/postinst" configure >/dev/null
  check "without systemd-sysusers, groupadd and useradd make the same user in that root" \
    diff -u <(printf '%s\n' "groupadd --root $target --system --force vornalith" \
      "useradd --root $target --system --gid vornalith --home-dir /var/lib/vornalith --no-create-home --shell /usr/sbin/nologin --comment Vornalith cooling unit guard vornalith") \
      "$root/calls-shadow.log"
  check "without systemd-sysusers, a user already there is no failure" \
    env PATH="$root/minbin" FAKE_LOG=/dev/null FAKE_USERADD_EXIT=9 DPKG_ROOT="$target" \
      /bin/sh "$root/control/postinst" configure
  for tool in groupadd useradd; do
    check "without systemd-sysusers, $tool failing is a failure" \
      bash -c '! env PATH="$1" FAKE_LOG=/dev/null FAKE_USER_EXIT=$4 FAKE_USERADD_EXIT=$5 DPKG_ROOT="$2" \
                 /bin/sh "$3" configure' _ "$root/minbin" "$target" "$root/control/postinst" \
        "$([ $tool = groupadd ] && echo 10 || echo 0)" "$([ $tool = useradd ] && echo 1 || echo 0)"
  done

  # A purge takes the guard's state and the link `systemctl enable` made,
  # and nothing beside them.
  mkdir -p "$target/var/lib/vornalith/sub" "$target/var/lib/other" \
           "$target/etc/systemd/system/multi-user.target.wants"
  touch "$target/var/lib/vornalith/sub/state" "$target/var/lib/other/keep"
  ln -sf "$unit_dir/vornalith-guard.service" \
    "$target/etc/systemd/system/multi-user.target.wants/vornalith-guard.service"
  ln -sf /lib/systemd/system/other.service "$target/etc/systemd/system/multi-user.target.wants/other.service"
  env DPKG_ROOT="$target" PATH="$root/fakebin:$PATH" FAKE_LOG="$root/calls-purge.log" \
    sh "$root/control/postrm" remove
  check "a removal keeps the guard's state" test -f "$target/var/lib/vornalith/sub/state"
  env DPKG_ROOT="$target" PATH="$root/fakebin:$PATH" FAKE_LOG="$root/calls-purge.log" \
    sh "$root/control/postrm" purge
  check "a purge takes the guard's state folder" test ! -e "$target/var/lib/vornalith"
  check "a purge takes the guard's enable link" \
    test ! -L "$target/etc/systemd/system/multi-user.target.wants/vornalith-guard.service"
  check "a purge leaves everything else" \
    test -f "$target/var/lib/other/keep" -a -L "$target/etc/systemd/system/multi-user.target.wants/other.service"
  check "in another root no daemon of this system is touched" test ! -s "$root/calls-purge.log"
else
  run_script "$root/calls-plain.log" postinst configure >"$root/postinst-plain.out"
  check "without the guard, postinst makes no user and mentions no guard" \
    bash -c '! grep -Eq "sysusers|groupadd|useradd" "$1" && test ! -s "$2"' _ "$root/calls-plain.log" "$root/postinst-plain.out"
fi

# --- lintian: errors fail, the rest is listed
lintian_out=$(lintian --pedantic "$deb" 2>&1 | grep -v 'running with root privileges')
echo "lintian:"
printf '%s\n' "${lintian_out:-(nothing)}" | sed 's/^/    /'
check "lintian reports no errors" bash -c '! grep -q "^E:" <<<"$1"' _ "$lintian_out"

summary
