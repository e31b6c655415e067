#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The guard's unit, system user, power-off rule, udev rule and settings file
# as their readers see them.
# systemd takes a misspelt setting with a warning and runs the service without
# it, so any remark of systemd-analyze about the unit counts as a failure.
import json
import os
import re
import shutil
import subprocess
import sys

source = os.environ["VCC_SOURCE_DIR"]
unit = os.environ["VCC_GUARD_UNIT"]
program = os.environ["VCC_GUARD_PROGRAM"]
udev_rule = os.environ["VCC_GUARD_UDEV_RULE"]
unit_usb_id = os.environ["VCC_UNIT_USB_ID"].lower()
ini_probe = os.environ["VCC_INI_PROBE"]
scratch = os.environ["VCC_SCRATCH"]
# The sandbox as it is now scores 1.0; a setting lost or loosened raises it.
MAX_EXPOSURE = 1.2

failed = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failed.append(what)
        if detail:
            print("    " + detail.strip().replace("\n", "\n    "))


def run(*args, stdin=None):
    return subprocess.run(args, input=stdin, capture_output=True, text=True)


if not shutil.which("systemd-analyze"):
    print("systemd-analyze is missing")
    sys.exit(77)

shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)
with open(unit) as f:
    text = f.read()

check("the unit is configured", re.search(r"@[A-Z_]+@", text) is None, text)
check("the unit starts the installed program",
      re.search(r"^ExecStart=" + re.escape(program) + r"$", text, re.M) is not None)

# verify wants the program to exist; the guard is not built here.
stand_in = os.path.join(scratch, "vornalith-guard")
with open(stand_in, "w") as f:
    f.write("#!/bin/sh\nexit 0\n")
os.chmod(stand_in, 0o755)
checked = os.path.join(scratch, "vornalith-guard.service")
with open(checked, "w") as f:
    f.write(text.replace("ExecStart=" + program, "ExecStart=" + stand_in))

check("the unit lets the guard write node_exporter's textfile folder, if there is one",
      re.search(r"^ReadWritePaths=-/var/lib/prometheus/node-exporter$", text, re.M) is not None)

verify = run("systemd-analyze", "verify", checked)
remarks = [line for line in (verify.stdout + verify.stderr).splitlines() if checked in line]
check("systemd-analyze verify finds nothing to say about the unit",
      verify.returncode == 0 and not remarks, verify.stdout + verify.stderr)

security = run("systemd-analyze", "security", "--offline=yes", checked)
score = re.search(r"Overall exposure level for \S+: ([0-9.]+)", security.stdout)
if score:
    print("systemd-analyze security --offline=yes: " + score.group(0))
    check("the sandbox's exposure is at most %.1f" % MAX_EXPOSURE, float(score.group(1)) <= MAX_EXPOSURE,
          "\n".join(line for line in security.stdout.splitlines() if "\u2717" in line))
else:
    check("systemd-analyze security rates the unit", False, security.stdout + security.stderr)

if shutil.which("systemd-sysusers"):
    root = os.path.join(scratch, "root")
    os.makedirs(root)
    with open(os.path.join(source, "data/systemd/vornalith-guard.sysusers")) as f:
        users = run("systemd-sysusers", "--root=" + root, "--dry-run", "-", stdin=f.read())
    out = users.stdout + users.stderr
    check("systemd-sysusers makes the user and the group vornalith, and nothing else",
          users.returncode == 0 and re.findall(r"Creating (user|group) '([^']*)'", out)
          == [("group", "vornalith"), ("user", "vornalith")], out)
else:
    print("systemd-sysusers is missing: the system user is not checked")

# The rule runs in polkit's JavaScript engine; node stands in for it.
if shutil.which("node"):
    probe = r"""
const fs = require("fs");
let rules = [];
const polkit = {Result: {YES: "yes", NO: "no", NOT_HANDLED: "not handled"},
                addRule: (r) => rules.push(r)};
eval(fs.readFileSync(process.argv[1], "utf8"));
for (const [user, id] of JSON.parse(process.argv[2])) {
  let result = "not handled";
  for (const r of rules) {
    const got = r({id: id}, {user: user});
    if (got !== undefined && got !== polkit.Result.NOT_HANDLED) { result = got; break; }
  }
  console.log(user + " " + id + " " + result);
}
"""
    login1 = "org.freedesktop.login1."
    cases = {("vornalith", login1 + "power-off"): "yes",
             ("vornalith", login1 + "power-off-multiple-sessions"): "yes",
             ("vornalith", login1 + "reboot"): "not handled",
             ("vornalith", login1 + "power-off-ignore-inhibit"): "not handled",
             ("vornalith", "org.freedesktop.systemd1.manage-units"): "not handled",
             ("alice", login1 + "power-off"): "not handled",
             ("vornalith2", login1 + "power-off"): "not handled"}
    answer = run("node", "-e", probe, os.path.join(source, "data/polkit/50-vornalith-guard.rules"),
                 json.dumps([list(k) for k in cases]))
    got = dict(((u, i), r) for u, i, r in
               (line.split(" ", 2) for line in answer.stdout.splitlines()))
    check("polkit lets the guard's user power off, and grants nothing more",
          answer.returncode == 0 and got == cases, answer.stdout + answer.stderr)
else:
    print("node is missing: the polkit rule is not checked")

# udevadm verify is newer than the systemd of Debian 12; a rule udev cannot
# parse is ignored with a log line only, so it is read here as udev reads it:
# comma-separated KEY op "value" pairs.
def udev_pairs(line):
    pairs, rest = [], line
    while rest.strip():
        m = re.match(r'\s*([A-Z]+(?:\{[^}]*\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$)', rest)
        if not m:
            return None
        pairs.append(m.groups()[:3])
        rest = rest[m.end():]
    return pairs


with open(udev_rule) as f:
    rule_lines = [line for line in f.read().splitlines() if line.strip() and not line.lstrip().startswith("#")]
parsed = [udev_pairs(line) for line in rule_lines]
check("the guard's udev rule is one rule that udev can read", len(parsed) == 1 and parsed[0] is not None,
      "\n".join(rule_lines))
if len(parsed) == 1 and parsed[0]:
    rule = parsed[0]
    vendor, product = unit_usb_id.split(":")
    check("the guard's udev rule matches the unit's USB device (%s) and nothing else" % unit_usb_id,
          [p for p in rule if p[1] in ("==", "!=")] ==
          [("SUBSYSTEM", "==", "usb"), ("ENV{DEVTYPE}", "==", "usb_device"),
           ("ATTR{idVendor}", "==", vendor), ("ATTR{idProduct}", "==", product)], str(rule))
    # The seat's uaccess tag is the other rule's; a second one here would be
    # harmless, but an owner or a wider mode would open the node to others.
    check("the guard's udev rule gives the node to the group vornalith, closed to others",
          [p for p in rule if p[1] not in ("==", "!=")] ==
          [("GROUP", "=", "vornalith"), ("MODE", "=", "0660")], str(rule))

# The guard reads its settings with QSettings; a comment QSettings took for a
# key would be a setting no one meant.
probe = run(ini_probe, os.path.join(source, "data/guard/guard.conf"))
check("the sample guard.conf holds the two settings, empty, and nothing else",
      probe.returncode == 0 and probe.stdout.splitlines() == ["Guard/MetricsFile=", "Guard/UnitUsbId="],
      probe.stdout + probe.stderr)

print("%d failed" % len(failed))
sys.exit(1 if failed else 0)
