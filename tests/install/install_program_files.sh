#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed program finds its help file, alarm sound, access rule and rule
# installer in the installed data folder. A probe that asks the program's own
# lookup is copied next to the installed executables and run from there, for
# the distribution prefix and for a prefix of the user's choosing.
set -uo pipefail
. "$(dirname "$0")/checks.sh"
need_tools cmake

root=$VCC_SCRATCH/install_program_files
fresh_dir "$root"

for prefix in /usr /opt/vornalith; do
  dest=$root/destdir${prefix//\//-}
  install_tree "$dest" "$prefix"
  cp "$VCC_PROBE" "$dest$prefix/bin/install_probe"
  if ! found=$("$dest$prefix/bin/install_probe" files 2>&1); then
    fail "probe runs from $prefix/bin"
    printf '%s\n' "$found" | sed 's/^/    /'
    continue
  fi
  data=$(cd "$dest$prefix/share/vornalith-control-centre" && pwd -P)
  for name in Alarm.wav Tessalinique.html wdreg 70-vornalith-unit.rules; do
    path=$(printf '%s\n' "$found" | sed -n "s/^$name=//p")
    check "$name found in $prefix/share/vornalith-control-centre (got: ${path:-nothing})" \
      test -f "$path" -a "$(cd "$(dirname "$path")" 2>/dev/null && pwd -P)/$(basename "$path")" = "$data/$name"
  done
done

summary
