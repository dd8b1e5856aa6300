# about: the visualization of whatever the computer plays, live in a window: listen --plugin PATH | --wine (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
case "${1:-}" in -h | --help) exec python3 "$top/scripts/_listen.py" --help ;; esac
# Other people's plug-ins, and ours as the DLL, run under Wine, fed by the live capture here.
if [ "$(video_mode "$@")" = wine ]; then
  ensure_setup wine
  build_for_video wine
  log="$build_root/listen-build.log"
  build_release live_stream >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; say "The build failed; the whole log is in $log." >&2; exit 1; }
  exec python3 "$top/scripts/_listen.py" "$@"
fi
echo "halcyon listen: this build shows other plug-ins and ours under Wine only: give --plugin PATH or --wine" >&2
exit 1
