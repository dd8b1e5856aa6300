# about: the visualization of an audio file live in a window, with its sound: play AUDIO [options] (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
mode=$(video_mode "$@")
ensure_setup "$mode"
build_for_video "$mode"
if [ "$mode" = native ]; then exec "$release_dir/native/halcyonsphere" play "$@"; fi
exec python3 "$top/scripts/_video.py" play "$@"
