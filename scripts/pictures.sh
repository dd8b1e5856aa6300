# about: remake the README's pictures (docs/still.png, docs/demo-sheet.png) from the demo's video
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup
bash "$top/scripts/demo.sh"
mkdir -p "$top/docs"
# A frame from the drop, where everything plays; written whole or not at all.
ffmpeg -hide_banner -nostdin -loglevel error -y -ss 15.5 -i "$top/out/demo.mp4" -frames:v 1 \
  "$top/docs/.still.partial.png"
mv "$top/docs/.still.partial.png" "$top/docs/still.png"
python3 "$top/scripts/_video.py" sheet "$top/out/demo.mp4" "$top/docs/demo-sheet.png" --width 960
say "README pictures: $top/docs/still.png, $top/docs/demo-sheet.png"
