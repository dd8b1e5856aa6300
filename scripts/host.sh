# about: run a visualization DLL in the stand-alone host under Wine: ./halcyon host [DLL] [host options|--help]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_wine_session.sh"
ensure_setup
build_win32 >/dev/null
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  with_wine_session wine "$win32_dir/bin/halcyon_host.exe" --help
  exit 0
fi
# The DLL (default: the product) runs from a fresh folder with a copy of the asset folder;
# HALCYON_KEEP_RUNS=1 keeps that folder, with the events and what the DLL wrote.
dll=vis_halcyonsphere.dll
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then dll=$1; shift; fi
export HALCYON_WIN32_DIR="$win32_dir"
with_wine_session python3 "$top/tests/wine/harness.py" "$dll" "$@"
