# about: build everything and run every test: native (ASan/UBSan), fuzzers, the DLL under Wine, the Debian package
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup all
choose_windows_build
build_windows
build_fuzz
build_native
source "$top/scripts/_deb.sh"
build_deb  # the install tests take the package of the release build
cd "$native_dir"
status=0
python3 "$top/scripts/_wine_session.py" ctest --output-on-failure -j "$jobs" "$@" || status=$?
# Said at the start too, but ctest's output hides it.
[ -z "$windows_build_reason" ] || say "test: the i686 build under 32-bit Wine was skipped: $windows_build_reason."
exit $status
