# about: run a visualization DLL in the stand-alone host under Wine: ./halcyon host [DLL] [host options|--help]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup wine
choose_windows_build
( build_windows ) >/dev/null
if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
  python3 "$top/scripts/_wine_session.py" --windows "$windows_dir/bin/halcyon_host.exe" --help
  exit 0
fi
# The product (the default, or a name in the build's bin folder) runs from a fresh folder with a
# copy of its asset folder; a DLL given by its path runs where it lies, beside its own files, and
# the fresh folder holds the run's events. HALCYON_KEEP_RUNS=1 keeps that folder.
dll=vis_halcyonsphere.dll
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then dll=$1; shift; fi
exec python3 "$top/tests/wine/harness.py" "$dll" "$@"
