# about: print what a model file holds: model-info FILE [--json] [--normals] [--tangents]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
# Build noise goes to stderr, so that --json output on stdout stays clean.
ensure_setup native >&2
build_release model_info >&2
exec "$release_dir/tools/model_info" "$@"
