# about: tell whether the plug-in reads a bitmap, and what it decodes: bmp-info FILE [--json]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
# Build noise goes to stderr, so that --json output on stdout stays clean.
ensure_setup native >&2
build_release bmp_info >&2
exec "$release_dir/tools/bmp_info" "$@"
