# about: a video of the visualization of an audio file, with its sound: render AUDIO [options] (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
case "${1:-}" in -h | --help) exec python3 "$top/scripts/_video.py" render --help ;; esac
ensure_setup "$(video_mode "$@")"
build_for_video "$(video_mode "$@")"
# Python starts with these signals blocked, and lets them through once its handlers are set
# (_run.py): one that comes while the interpreter starts is then neither lost nor fatal unsaid.
exec env --block-signal=INT --block-signal=TERM --block-signal=HUP python3 "$top/scripts/_video.py" render "$@"
