// SPDX-License-Identifier: GPL-3.0-or-later
// vornalith-guard: the guard service's program. systemd starts it at boot
// (vornalith-guard.service); it runs as well by hand or under a test, with
// the folders and the notify socket its environment names.

#include "guard/GuardMain.h"

int main(int argc, char** argv) { return RunGuard(argc, argv, GuardOptions{}); }
