# Shared by render, play, demo and bench: builds what a run on real audio needs. build_for_video
# native|wine|both: the native program (our plug-in built in), or the Windows builds with the host,
# or both; always the audio tools. Only the Wine path chooses and builds a Windows build, so the
# native one runs where Wine cannot.
build_for_video() {
  local mode=$1 log="$build_root/video-build.log"
  local targets=(analyse_audio make_demo_music)
  [ "$mode" = wine ] || targets+=(halcyon_native halcyonsphere)
  [ "$mode" = native ] || choose_windows_build later
  if [ ! -x "$release_dir/tools/analyse_audio" ] ||
     { [ "$mode" != wine ] && [ ! -x "$release_dir/native/halcyonsphere" ]; } ||
     { [ "$mode" != native ] && [ ! -x "$windows_dir/bin/halcyon_host.exe" ]; }; then
    say "Building the plug-in and the audio tools (the first time takes a minute or two)..."
  fi
  ( if [ "$mode" != native ]; then build_windows; fi && build_release "${targets[@]}" ) >"$log" 2>&1 ||
    { tail -n 40 "$log"; say "The build failed; the whole log is in $log."; return 1; }
  export HALCYON_TOOLS_DIR="$release_dir/tools" HALCYON_NATIVE_DIR="$release_dir/native"
}
# native or wine: which path a render, play or listen with these arguments takes (--wine, or
# another plug-in with --plugin, runs under Wine). Options in full, as _video.py takes them (it
# refuses abbreviations); the value of an option and what follows -- are not options.
video_mode() {
  local argument taking_value=""
  for argument in "$@"; do
    if [ -n "$taking_value" ]; then taking_value=""; continue; fi
    case "$argument" in
      --) break ;;
      --wine | --plugin | --plugin=*) echo wine; return ;;
      --out | --size | --fps | --seconds | --start | --options | --assets | --gl | --log | --timings | \
        --sound-latency | --source | --record | --capture | --frames)
        taking_value=1 ;;
    esac
  done
  echo native
}
