#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --install --prefix /usr` into a scratch DESTDIR: every file the
# desktop and udev expect is in place, the menu entries and the AppStream
# data pass their validators and point at what is installed, and the icons
# show the program's own tray picture.
set -uo pipefail
. "$(dirname "$0")/checks.sh"
need_tools cmake desktop-file-validate appstreamcli rsvg-convert

app=org.quelmark.VornalithControlCentre
root=$VCC_SCRATCH/install_layout
fresh_dir "$root"
dest=$root/destdir
install_tree "$dest" /usr
usr=$dest/usr
data=$usr/share/vornalith-control-centre

# --- programs and their read-only files
programs="vornalith-control-centre vornalith-control-centre-sim"
guard_built && programs="$programs vornalith-guard"
for program in $programs; do
  check "$program in bin/ and executable" test -x "$usr/bin/$program"
done
check "only the programs in bin/ (no test or tool installed)" \
  test "$(ls "$usr/bin" | sort | tr '\n' ' ')" = "$programs "
for f in "$VCC_SOURCE_DIR/data/Alarm.wav" "$VCC_SOURCE_DIR/data/Tessalinique.html" "$built_rule"; do
  check "${f##*/} in share/vornalith-control-centre" cmp "$f" "$data/${f##*/}"
done
check "the rule installer in share/vornalith-control-centre and executable" test -x "$data/wdreg"
check "the access rule where udev reads package rules ($VCC_UDEV_RULES_DIR)" \
  cmp "$built_rule" "$dest$VCC_UDEV_RULES_DIR/70-vornalith-unit.rules"
check "the access rule names the configured pair ($VCC_UNIT_USB_ID)" \
  test "$(rule_id idVendor):$(rule_id idProduct)" = "$(tr A-F a-f <<<"$VCC_UNIT_USB_ID")"
# The README promises access for the user at the seat only: by the seat's
# ACL, with the device node's mode left as udev sets it.
check "the access rule tags the unit for the seat" grep -q 'TAG+="uaccess"' "$data/70-vornalith-unit.rules"
check "the access rule sets no mode, owner or group" \
  bash -c "! grep -Ev '^[[:space:]]*#' \"\$1\" | grep -Eq 'MODE|OWNER|GROUP'" _ "$data/70-vornalith-unit.rules"

# --- the installer's password prompt: a polkit action for the installed installer
policy=$dest$VCC_POLKIT_ACTIONS_DIR/$app.policy
if [ -f "$policy" ]; then
  check "polkit action is well-formed XML" \
    python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$policy"
  check "polkit action's prompt says what it is for" grep -qF \
    '<message>Authentication is required to install the USB access rule for the Vornalith cooling unit, /etc/udev/rules.d/70-vornalith-unit.rules (or 70-vornalith-unit-VVVV-PPPP.rules for a unit id you named), which lets the user at this seat use the unit</message>' "$policy"
  check "polkit action is for the installed installer (/usr/share/vornalith-control-centre/wdreg)" grep -qF \
    '<annotate key="org.freedesktop.policykit.exec.path">/usr/share/vornalith-control-centre/wdreg</annotate>' "$policy"
  check "polkit action asks an administrator every time" \
    test "$(grep -c '>auth_admin<' "$policy")" -eq 3
else
  fail "polkit action $app.policy in $VCC_POLKIT_ACTIONS_DIR"
fi

# --- the guard service's files, beside the guard only
unit=$dest$(cache_var VCC_SYSTEMD_UNIT_DIR)/vornalith-guard.service
guard_files=("$unit"
             "$dest$(cache_var VCC_SYSUSERS_DIR)/vornalith-guard.conf"
             "$dest$(cache_var VCC_POLKIT_RULES_DIR)/50-vornalith-guard.rules"
             "$dest$VCC_UDEV_RULES_DIR/71-vornalith-guard.rules"
             "$dest$(cache_var VCC_GUARD_CONFIG_DIR)/guard.conf")
if guard_built; then
  for f in "${guard_files[@]}"; do
    check "the guard's ${f#"$dest"}" test -f "$f"
  done
  # The unit in the build tree names the configured prefix; the installed
  # one must name the prefix of this install.
  check "the installed unit starts the installed guard (/usr/bin/vornalith-guard)" \
    grep -qx 'ExecStart=/usr/bin/vornalith-guard' "$unit"
  check "the guard's udev rule is the one built for the configured pair" \
    cmp "$VCC_BUILD_DIR/data/udev/71-vornalith-guard.rules" "$dest$VCC_UDEV_RULES_DIR/71-vornalith-guard.rules"
  check "the sample guard.conf installed as it is" \
    cmp "$VCC_SOURCE_DIR/data/guard/guard.conf" "$dest$(cache_var VCC_GUARD_CONFIG_DIR)/guard.conf"
else
  # A system user, a power-off grant and a group on the node for a program
  # that is not there would be left for anyone who takes that name.
  for f in "${guard_files[@]}"; do
    check "without the guard, no ${f#"$dest"}" test ! -e "$f"
  done
fi

# --- menu entries
entries=("$app.desktop" "$app.Simulated.desktop")
for entry in "${entries[@]}"; do
  file=$usr/share/applications/$entry
  if [ ! -f "$file" ]; then
    fail "$entry in share/applications"
    continue
  fi
  check "$entry passes desktop-file-validate" desktop-file-validate "$file"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
  check "$entry starts an installed program ($exec_program)" test -x "$usr/bin/$exec_program"
  icon=$(sed -n 's/^Icon=//p' "$file")
  check "$entry names the installed icon ($icon)" \
    test -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg"
  check "$entry has the menu categories" grep -qx 'Categories=System;Monitor;HardwareSettings;' "$file"
done
check "the real-unit entry starts the real-unit program" \
  grep -qx 'Exec=vornalith-control-centre' "$usr/share/applications/$app.desktop"
check "the simulated-unit entry says so in its name" \
  grep -q '^Name=.*(simulated unit)' "$usr/share/applications/$app.Simulated.desktop"

# --- icon: the scalable picture and every usual size, all the tray picture
icons=$usr/share/icons/hicolor
check "scalable icon installed" test -f "$icons/scalable/apps/$app.svg"
for size in 16 22 24 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/$app.png
  if [ -f "$png" ]; then
    check "${size}x${size} icon shows the tray picture" "$VCC_PROBE" icon "$size" "$png"
  else
    fail "${size}x${size} icon installed"
  fi
done
for size in 16 48 40; do
  rsvg-convert -w "$size" -h "$size" -o "$root/svg-$size.png" "$icons/scalable/apps/$app.svg"
  check "scalable icon drawn at $size pixels shows the tray picture" \
    "$VCC_PROBE" icon "$size" "$root/svg-$size.png"
done

# --- AppStream data
metainfo=$usr/share/metainfo/$app.metainfo.xml
if [ -f "$metainfo" ]; then
  check "metainfo passes appstreamcli validate" appstreamcli validate --no-net "$metainfo"
  check "metainfo id matches the menu entry's file name" grep -q "<id>$app</id>" "$metainfo"
  check "metainfo launches an installed menu entry" \
    test -f "$usr/share/applications/$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")"
  vendor=$(rule_id idVendor | tr a-f A-F)
  product=$(rule_id idProduct | tr a-f A-F)
  check "metainfo's hardware match is the unit of the access rule (usb:v${vendor}p${product})" \
    grep -q "<modalias>usb:v${vendor}p${product}d\*</modalias>" "$metainfo"
else
  fail "$app.metainfo.xml in share/metainfo"
fi

summary
