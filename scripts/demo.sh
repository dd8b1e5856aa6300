# about: a 20-second music video made with the plug-in from music it synthesizes (out/demo.mp4, a contact sheet; --wine: the DLL under Wine)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
# The native program draws it; --wine the DLL under Wine, as players run it.
player=()
case "${1:-}" in
  "") ;;
  --wine) player=(--wine) ;;
  *) say "usage: ./halcyon demo [--wine]"; exit 2 ;;
esac
ensure_setup "$(video_mode "${player[@]}")"
started=$SECONDS
build_for_video "$(video_mode "${player[@]}")"

# 20 seconds at 640x360 and 30 frames a second: 600 frames, well under a minute of software GL
# on two cores, and a size a phone plays.
seconds=${DEMO_SECONDS:-20}
size=${DEMO_SIZE:-640x360}
demo_dir="$build_root/demo"
out_dir="$top/out"
rm -rf "$demo_dir"
mkdir -p "$demo_dir" "$out_dir"
say "Making the demo's music: $seconds seconds at 120 beats a minute (intro, groove, break, drop)..."
"$release_dir/tools/make_demo_music" "$demo_dir/music.wav" --seconds "$seconds"
if [ ${#player[@]} -eq 0 ]; then
  "$release_dir/native/halcyonsphere" render "$demo_dir/music.wav" --out "$out_dir/demo.mp4" --size "$size" \
    --fps 30 --log "$demo_dir/events.jsonl"
else
  python3 "$top/scripts/_video.py" render "$demo_dir/music.wav" --out "$out_dir/demo.mp4" --size "$size" \
    --fps 30 --log "$demo_dir/events.jsonl" "${player[@]}"
fi
python3 "$top/scripts/_video.py" sheet "$out_dir/demo.mp4" "$out_dir/demo-sheet.png"
say ""
say "What the plug-in did in the $([ ${#player[@]} -eq 0 ] && echo "native program" || echo "host under Wine"):"
python3 "$top/scripts/describe_events.py" "$demo_dir/events.jsonl" | sed 's/^/  /'
say ""
say "Done in $((SECONDS - started)) s. The video: $out_dir/demo.mp4"
say "Frames from it with their times: $out_dir/demo-sheet.png"
say "Your own music: ./halcyon render SONG.mp3 (or .wav, .flac, .ogg); ./halcyon render --help"
