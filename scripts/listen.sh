# about: the visualization of whatever the computer plays, live in a window: listen [options] (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
# Other people's plug-ins, and ours as the DLL, run under Wine, fed by the live capture there.
if [ "$(video_mode "$@")" = wine ]; then
  ensure_setup wine
  build_for_video wine
  log="$build_root/listen-build.log"
  build_release live_stream >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; say "The build failed; the whole log is in $log." >&2; exit 1; }
  exec python3 "$top/scripts/_listen.py" "$@"
fi
ensure_setup native >&2
log="$build_root/listen-build.log"
[ -x "$release_dir/native/halcyonsphere" ] || say "Building the program (the first time takes a minute or two)..." >&2
build_release halcyonsphere >"$log" 2>&1 ||
  { tail -n 40 "$log" >&2; say "The build failed; the whole log is in $log." >&2; exit 1; }
# Built without libpulse's development files, the program has no listen: say why.
"$release_dir/native/halcyonsphere" --help | grep -q '^  listen ' ||
  { echo "halcyon listen: built without libpulse (libpulse-dev); run ./halcyon setup native" >&2; exit 1; }
exec "$release_dir/native/halcyonsphere" listen "$@"
