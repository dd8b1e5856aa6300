# about: say what the plug-in's Init makes of an asset folder: check-assets [DIR] (default: the build's)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup >&2
build_release check_assets >&2
if [ $# -eq 0 ]; then
  set -- "$win32_dir/bin/vis_halcyonsphere_assets"
  [ -d "$1" ] || { say "No asset folder at $1 yet; run ./halcyon build, or name a folder: ./halcyon check-assets DIR" >&2; exit 2; }
fi
exec "$release_dir/tools/check_assets" "$@"
