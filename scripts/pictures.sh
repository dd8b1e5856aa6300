# about: remake the README's pictures (docs/still.png, docs/demo-sheet.png) from the demo's video
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup native
bash "$top/scripts/demo.sh"
mkdir -p "$top/docs"
# small_png FILTERS OUT: one picture from the demo's video (or a picture), in 256 colours to keep
# the repository small; written whole or not at all.
small_png() {
  local input=$1 filters=$2 out=$3
  ffmpeg -hide_banner -nostdin -loglevel error -y "${@:4}" -i "$input" -frames:v 1 \
    -vf "$filters,split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=sierra2_4a" "$out.partial.png"
  mv "$out.partial.png" "$out"
}
# A frame from the drop, where everything plays.
small_png "$top/out/demo.mp4" "scale=480:-2" "$top/docs/still.png" -ss 15.5
python3 "$top/scripts/_video.py" sheet "$top/out/demo.mp4" "$build_root/demo/sheet.png" --width 960
small_png "$build_root/demo/sheet.png" "null" "$top/docs/demo-sheet.png"
say "README pictures: $top/docs/still.png, $top/docs/demo-sheet.png"
