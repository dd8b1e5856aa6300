# about: build optimised and run the benchmarks (arguments go to Google Benchmark)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup >&2
build_release model_bench >&2
exec "$release_dir/bench/model_bench" "$@"
