# about: build the native core with its tests and the Windows DLL with the host
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup all
build_windows
build_native
say "build: DLL and host in $win32_dir (x86_64: $win64_dir), native tests and tools in $native_dir"
