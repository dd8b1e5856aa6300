# about: a video of the visualization of an audio file, with its sound: render AUDIO [options] (--help)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
mode=$(video_mode "$@")
ensure_setup "$mode"
build_for_video "$mode"
# Our plug-in: the installed program's own render, built here; the Wine path stays in Python.
# Started with the stop signals blocked, which it lets through once its handlers are set.
if [ "$mode" = native ]; then
  exec env --block-signal=INT --block-signal=TERM --block-signal=HUP "$release_dir/native/halcyonsphere" render "$@"
fi
# Python starts with these signals blocked, and lets them through once its handlers are set
# (_run.py): one that comes while the interpreter starts is then neither lost nor fatal unsaid.
exec env --block-signal=INT --block-signal=TERM --block-signal=HUP python3 "$top/scripts/_video.py" render "$@"
