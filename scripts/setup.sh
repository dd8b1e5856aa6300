# about: install the system packages the commands need with apt-get (safe to run twice): setup [native|wine]; no argument: everything
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"

need=${1:-all}
case "$need" in
  native | wine | all) ;;
  *)
    say "usage: ./halcyon setup [native|wine|all]"
    say "  native: demo, render, play and the tools; wine: also --wine, --plugin and host;"
    say "  all (the default): also test, bench, build and package"
    exit 2 ;;
esac
again="./halcyon setup${1:+ $need}"

# Each failure is one sentence that says what to do, and a nonzero exit, so no build starts.
fail() { say "setup: $*" >&2; exit 1; }

need_packages "$need"
query_installed_packages "${required[@]}" "${wanted[@]}"
not_installed missing "${required[@]}"
not_installed missing_wanted "${wanted[@]}"
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_wanted[@]} -eq 0 ] && [ ! -e "$i386_added_marker" ]; then
  say "setup: every package is already installed."
  exit 0
fi
command -v apt-get >/dev/null 2>&1 && command -v dpkg >/dev/null 2>&1 ||
  fail "apt-get is not available; run this on Debian 12, or install these packages by hand: ${missing[*]} ${missing_wanted[*]}."
[ "$(id -u)" = 0 ] ||
  fail "installing packages needs root; run '$again' as root (for example with sudo), then your command again."

# apt's messages are read below, so in English.
export DEBIAN_FRONTEND=noninteractive LC_ALL=C
log="$build_root/setup-apt.log"
: >"$log"
log_lines() { wc -l <"$log"; }

# What apt-get install said that stops it, as "PACKAGE: REASON" (or "the packages: REASON"), from
# its output on stdin: the first package it names, with apt's or dpkg's own words.
apt_failure() {
  awk '
    function keep(text) { if (found == "") found = text }
    function file_of(path) { sub(/.*\//, "", path); return path }
    function tidy(text) { sub(/ *\[IP: [^]]*\]$/, "", text); gsub(/  +/, " ", text); sub(/^ +/, "", text); return text }
    pending != "" { keep(pending ": " tidy($0)); pending = ""; next }
    /^The following packages have unmet dependencies:/ { unmet = 1; next }
    unmet == 1 && /^ +[^ ]+ : / {
      line = tidy($0); at = index(line, " : ")
      keep(substr(line, 1, at - 1) ": " substr(line, at + 3)); unmet = 2; next
    }
    /^E: Unable to locate package / { keep(substr($0, 29) ": Unable to locate package") }
    /^E: Package .* has no installation candidate/ {
      name = $0; sub(/^E: Package ./, "", name); sub(/. has no installation candidate.*/, "", name)
      keep(name ": has no installation candidate")
    }
    /^E: Version .* was not found/ {
      line = $0; sub(/^E: Version ./, "", line); split(line, part, "\047")
      keep(part[3] ": version " part[1] " was not found")
    }
    /^E: Failed to fetch / { line = substr($0, 20); at = index(line, "  "); keep(file_of(substr(line, 1, at - 1)) ": " tidy(substr(line, at))) }
    /^dpkg: error processing archive / { line = substr($0, 32); sub(/ \(--[a-z]+\):$/, "", line); pending = file_of(line) }
    /^dpkg: error processing package / { line = substr($0, 32); sub(/ \(--[a-z]+\):$/, "", line); pending = line }
    /^E: / { last = substr($0, 4); if (unmet == 2 && held == "") held = last }
    END {
      if (found != "" && held != "") found = found " (" held ")"
      if (found == "") found = "the packages: " (last != "" ? last : "apt-get gave no reason")
      print found
    }'
}

# The first list apt-get update could not fetch, as "WHAT: REASON", from its output on stdin.
fetch_failure() {
  awk '
    function tidy(text) { sub(/ *\[IP: [^]]*\]$/, "", text); gsub(/  +/, " ", text); sub(/^ +/, "", text); return text }
    err != "" && reason == "" { reason = err ": " tidy($0) }
    /^Err:/ && err == "" { err = $0; sub(/^Err:[0-9]+ /, "", err) }
    /^[WE]: Failed to fetch / && found == "" { line = substr($0, 20); at = index(line, "  "); found = substr(line, 1, at - 1) ": " tidy(substr(line, at)) }
    END { print (found != "" ? found : reason != "" ? reason : "apt-get update failed") }'
}

# apt-get update. A list it could not fetch is a warning, as mirrors are mid-sync for hours at a
# time and what is needed may well be in the others; no list fetched at all means no archive.
# Status 0: every list, 1: some (said once a set-up), 2: none.
lists_updated="" lists_warned=""
update_package_lists() {
  local from status=0 output
  from=$(log_lines)
  apt-get update -q >>"$log" 2>&1 || status=$?
  lists_updated=1
  output=$(tail -n +"$((from + 1))" "$log")
  if [ $status = 0 ] && ! grep -qE '^(W|E): (Failed to fetch|Some index files failed)|^Err:' <<<"$output"; then
    return 0
  fi
  grep -qE '^(Hit|Get):' <<<"$output" || return 2
  [ -n "$lists_warned" ] ||
    say "setup: warning: apt-get update could not fetch every package list ($(fetch_failure <<<"$output")); going on with the lists it has." >&2
  lists_warned=1
  return 1
}

# apt_install PACKAGE...: one transaction; when it fails, install_failure holds apt's reason.
apt_install() {
  local from
  from=$(log_lines)
  apt-get install -y -q --no-install-recommends "$@" >>"$log" 2>&1 && return 0
  install_failure=$(tail -n +"$((from + 1))" "$log" | apt_failure)
  return 1
}

# An install cut short (Ctrl-C, a closed terminal, a crash) leaves dpkg's work half-done, and
# apt-get then refuses everything until it is finished.
dpkg --configure -a >>"$log" 2>&1 || true

if [ ${#missing[@]} -gt 0 ]; then
  say "setup: installing ${missing[*]}"
  lists=0
  update_package_lists || lists=$?
  if [ $lists = 2 ]; then
    tail -n 5 "$log" >&2
    fail "the package archive could not be reached (apt-get update failed); check the network connection or the apt sources, then run '$again' again."
  fi
  apt_install "${missing[@]}" ||
    fail "apt-get could not install $install_failure (full log: $log); fix that, then run '$again' again."
  query_installed_packages "${required[@]}"
  not_installed missing "${required[@]}"
  [ ${#missing[@]} -eq 0 ] || fail "some packages are still missing after the install: ${missing[*]}; see $log."
  # python3 is among them: only now can the machine's 32-bit code be probed on a bare machine.
  need_packages "$need"
  query_installed_packages "${wanted[@]}"
  not_installed missing_wanted "${wanted[@]}"
fi

# The i386 architecture, when this set-up adds it, is removed again unless something from it got
# installed, so that a failure or an interruption leaves no half-added architecture behind; the
# marker lets the next command finish that after a kill -9.
remove_added_i386() {
  i386_removed=""
  [ -e "$i386_added_marker" ] || return 0
  if dpkg --remove-architecture i386 >>"$log" 2>&1; then
    rm -f "$i386_added_marker"
    i386_removed=yes
  else
    i386_removed=no
    [ "${1:-}" = interrupted ] || rm -f "$i386_added_marker"
  fi
}
i386_note() {
  case "$i386_removed" in
    yes) printf '; the i386 architecture added for it was removed again' ;;
    no) printf '; the i386 architecture added for it stays, as something of it is installed' ;;
  esac
}
i386_removed=""
trap 'remove_added_i386 interrupted; [ -z "$i386_removed" ] || say "setup: stopped before 32-bit Wine was installed$(i386_note)." >&2' EXIT

# 32-bit Wine runs the i686 build, the product; without it the x86_64 build runs under 64-bit Wine,
# so a failure here is said in one line and recorded for the commands' choice of build.
wine32_failed() {
  remove_added_i386
  printf '32-bit Wine could not be installed (%s)\n' "$1" >"$wine32_failure_record"
  say "setup: 32-bit Wine could not be installed ($1)$(i386_note); commands that need Wine use the 64-bit Windows build under 64-bit Wine, and '$again' tries again (full log: $log)." >&2
}
install_32bit_wine() {
  say "setup: installing 32-bit Wine for the i686 build: ${missing_wanted[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    : >"$i386_added_marker"
    if ! dpkg --add-architecture i386 >>"$log" 2>&1; then
      rm -f "$i386_added_marker"
      wine32_failed "dpkg --add-architecture i386 failed: $(tail -n 1 "$log")"
      return 0
    fi
    lists_updated=""
  fi
  local lists=0
  [ -n "$lists_updated" ] || update_package_lists || lists=$?
  if [ $lists = 2 ]; then
    wine32_failed "the package archive could not be reached"
  elif ! apt_install "${missing_wanted[@]}"; then
    wine32_failed "apt-get could not install $install_failure"
  else
    query_installed_packages "${wanted[@]}"
    not_installed missing_wanted "${wanted[@]}"
    if [ ${#missing_wanted[@]} -gt 0 ]; then
      wine32_failed "still missing after the install: ${missing_wanted[*]}"
    else
      rm -f "$i386_added_marker" "$wine32_failure_record"
    fi
  fi
}
if [ ${#missing_wanted[@]} -gt 0 ]; then
  install_32bit_wine
elif [ ${#wanted[@]} -gt 0 ]; then
  # 32-bit Wine is in: whatever a set-up cut short left is settled.
  rm -f "$i386_added_marker" "$wine32_failure_record"
elif [ -e "$i386_added_marker" ]; then
  remove_added_i386
  say "setup: a set-up cut short had added the i386 architecture for 32-bit Wine$(i386_note | sed 's/ added for it//')." >&2
fi
say "setup: done."
