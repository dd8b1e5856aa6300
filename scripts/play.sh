# about: the visualization of an audio file live in a window, with its sound: play AUDIO [options] (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
case "${1:-}" in -h | --help) exec python3 "$top/scripts/_video.py" play --help ;; esac
ensure_setup "$(video_mode "$@")"
build_for_video "$(video_mode "$@")"
exec python3 "$top/scripts/_video.py" play "$@"
