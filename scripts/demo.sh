# about: run the plug-in in the stand-alone host for a few seconds and tell what happened
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_wine_session.sh"
ensure_setup
say "Building the plug-in and the host..."
build_win32 >"$build_root/demo-build.log" 2>&1 || { cat "$build_root/demo-build.log"; exit 1; }

demo_dir="$build_root/demo"
rm -rf "$demo_dir"
mkdir -p "$demo_dir"
cp "$win32_dir/bin/vis_halcyonsphere.dll" "$win32_dir/bin/halcyon_host.exe" "$demo_dir/"
cp -r "$win32_dir/bin/vis_halcyonsphere_assets" "$demo_dir/"
rm -f "$demo_dir/vis_halcyonsphere_assets/useropt.cfg"  # a first start, as on a fresh install

frames=${DEMO_FRAMES:-120}
say "Running vis_halcyonsphere.dll in the host for $frames frames (Wine on a virtual display)..."
run_demo() {
  cd "$demo_dir"
  timeout 300 wine halcyon_host.exe --dll vis_halcyonsphere.dll --frames "$frames" \
    --spectrum tone:40,90@200 --log events.jsonl >host.out 2>&1 || true
}
with_wine_session run_demo
status=0
python3 "$top/scripts/describe_events.py" "$demo_dir/events.jsonl" || status=$?
if [ -f "$demo_dir/vis_halcyonsphere_assets/useropt.cfg" ]; then
  say "On its first start the plug-in wrote its options file, vis_halcyonsphere_assets/useropt.cfg ($(stat -c %s "$demo_dir/vis_halcyonsphere_assets/useropt.cfg") bytes)."
fi
say ""
say "Everything the demo made is in $demo_dir (events.jsonl: one JSON event per line)."
exit $status
