# about: build everything and run every test: native (ASan/UBSan), fuzzers, the DLL under Wine, the Debian package
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup
choose_windows_build
build_windows
build_fuzz
build_native
source "$top/scripts/_deb.sh"
build_deb  # the install tests take the package of the release build
cd "$native_dir"
python3 "$top/scripts/_wine_session.py" ctest --output-on-failure -j "$jobs" "$@"
