# about: install every system package the project needs (apt-get; safe to run twice)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"

# Each failure is one sentence that says what to do, and a nonzero exit, so no build starts.
fail() { say "setup: $*" >&2; exit 1; }

if setup_is_complete; then
  say "setup: every package is already installed."
  exit 0
fi
command -v apt-get >/dev/null 2>&1 && command -v dpkg >/dev/null 2>&1 ||
  fail "apt-get is not available; run this on Debian 12, or install these packages by hand: ${packages[*]}."
[ "$(id -u)" = 0 ] ||
  fail "installing packages needs root; run './halcyon setup' as root (for example with sudo), then your command again."

export DEBIAN_FRONTEND=noninteractive
log="$build_root/setup-apt.log"
: >"$log"
# apt-get update reports an unreachable archive only as warnings; look for them.
update_package_lists() {
  if ! apt-get update -q >>"$log" 2>&1 || grep -qE '^(W|E): (Failed to fetch|Some index files failed)' "$log"; then
    tail -n 5 "$log" >&2
    fail "the package archive could not be reached (apt-get update failed); check the network connection or the apt sources, then run './halcyon setup' again."
  fi
}
# Whether the machine runs 32-bit code, and so which packages it gets, is asked of Python.
if ! command -v python3 >/dev/null 2>&1; then
  update_package_lists
  apt-get install -y -q --no-install-recommends python3 >>"$log" 2>&1 ||
    fail "apt-get could not install python3 (full log: $log)."
  source "$top/scripts/_common.sh"
fi
# 32-bit Wine needs the i386 architecture, where the machine runs 32-bit code at all.
if [ "$(machine_runs_32bit_code)" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386 || fail "could not enable the i386 architecture (dpkg --add-architecture i386 failed); see the message above."
fi
mapfile -t missing < <(missing_packages)
say "setup: installing ${missing[*]}"
update_package_lists
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
  tail -n 15 "$log" >&2
  fail "apt-get could not install the packages (full log: $log); fix what it reports above, then run './halcyon setup' again."
fi
setup_is_complete || fail "some packages are still missing after the install: $(missing_packages | tr '\n' ' '); see $log."
say "setup: done."
