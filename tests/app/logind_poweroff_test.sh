#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real power-off request against a mock logind on a private bus: it must
# arrive as PowerOff(false). The machine's own system bus is never touched.
set -euo pipefail
probe="$1"
exec "$(dirname "$0")/../support/logind_mock.sh" bash -c '
  "$0"
  for _ in $(seq 50); do grep -q PowerOff "$VCC_LOGIND_CALLS" 2>/dev/null && break; sleep 0.1; done
  echo "calls seen by the mock logind:"
  cat "$VCC_LOGIND_CALLS"
  grep -Eq "PowerOff (False|false)" "$VCC_LOGIND_CALLS"
  echo "1 passed, 0 failed"' "$probe"
