# about: build optimised and run the benchmarks (arguments go to Google Benchmark), then time the export and the frame against its floor
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
source "$top/scripts/_video.sh"
ensure_setup >&2
build_release model_bench >&2
"$release_dir/bench/model_bench" "$@"
build_for_video >&2
echo
python3 "$top/scripts/_video.py" bench
echo
python3 "$top/scripts/_frame_bench.py"
