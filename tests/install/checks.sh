# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the install tests: counting checks, and an install of the build
# tree into a fresh DESTDIR. Sourced, not run.

passed=0
failed=0

pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }

# check DESCRIPTION COMMAND...: the command's output is shown only when it fails.
check() {
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then
    pass
  else
    fail "$what"
    [ -n "$out" ] && printf '%s\n' "$out" | sed 's/^/    /'
  fi
}

summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

need_tools() {
  local tool missing=()
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Missing tools: ${missing[*]} (scripts/install-deps.sh installs them)"
    echo "0 passed, 1 failed"
    exit 1
  fi
}

# fresh_dir PATH: an empty folder of this test's own under the build tree.
fresh_dir() {
  case "$1" in
    */test-scratch/*) ;;
    *) echo "refusing to clear $1" >&2; exit 1 ;;
  esac
  rm -rf "$1"
  mkdir -p "$1"
}

# install_tree DESTDIR PREFIX: `cmake --install` of the build tree.
install_tree() {
  DESTDIR=$1 cmake --install "$VCC_BUILD_DIR" --prefix "$2" >"$1.log" 2>&1 || {
    cat "$1.log"
    echo "cmake --install failed"
    echo "$passed passed, $((failed + 1)) failed"
    exit 1
  }
}

# The unit's ids, as its access rule (built for the configured pair) names them.
built_rule=$VCC_BUILD_DIR/bin/70-vornalith-unit.rules
rule_id() {
  sed -n "s/.*ATTR{$1}==\"\\([0-9a-fA-F]*\\)\".*/\\1/p" "$built_rule"
}

# cache_var NAME: a setting of the build tree, such as where a file installs.
cache_var() {
  sed -n "s/^$1:[A-Z]*=//p" "$VCC_BUILD_DIR/CMakeCache.txt"
}

# Whether the build tree has the guard service, and so installs its files.
guard_built() {
  [ "${VCC_WITH_GUARD:-}" = yes ]
}
