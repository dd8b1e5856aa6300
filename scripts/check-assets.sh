# about: say what the plug-in's Init makes of an asset folder: check-assets [DIR] (default: the build's)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup native >&2
build_release check_assets >&2
if [ $# -eq 0 ]; then
  # The build's own folder: made (or brought up to date) first, so this works as a first command too.
  log="$build_root/check-assets-build.log"
  say "Building the plug-in and its asset folder..." >&2
  ( build_windows ) >"$log" 2>&1 || { tail -n 40 "$log" >&2; say "The build failed; the whole log is in $log." >&2; exit 2; }
  set -- "$win32_dir/bin/vis_halcyonsphere_assets"
fi
exec "$release_dir/tools/check_assets" "$@"
