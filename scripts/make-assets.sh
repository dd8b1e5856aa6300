# about: write the shipped asset set into a folder: make-assets DIR [--preview PNG]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup native >&2
build_release make_assets >&2
exec "$release_dir/tools/make_assets" "$@"
