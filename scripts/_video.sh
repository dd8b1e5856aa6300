# Shared by render, play, demo and bench: builds what a run of the host on real audio needs.
build_for_video() {
  local log="$build_root/video-build.log"
  choose_windows_build
  if [ ! -x "$windows_dir/bin/halcyon_host.exe" ] || [ ! -x "$release_dir/tools/analyse_audio" ]; then
    say "Building the plug-in, the host and the audio tools (the first time takes a minute or two)..."
  fi
  ( build_windows && build_release analyse_audio make_demo_music ) >"$log" 2>&1 ||
    { tail -n 40 "$log"; say "The build failed; the whole log is in $log."; return 1; }
  export HALCYON_TOOLS_DIR="$release_dir/tools"
}
