# Shared by the scripts behind ./halcyon: paths, build folders, and the check that set-up ran.
# Ctrl-C, SIGTERM or a closed terminal while a command builds or checks: it stops there and says
# so, whatever the interrupted step would have reported (a build "failure", an empty answer).
# Steps whose output goes to a log run in a subshell, ( ... ) >log, so that this runs outside it.
# Set first, before anything that starts a process.
trap 'printf "\nhalcyon: interrupted.\n" >&2 2>/dev/null; exit 130' INT TERM HUP
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root="$top/build"
native_dir="$build_root/native"    # gcc, ASan + UBSan: the tests
release_dir="$build_root/release"  # gcc, optimised: benchmarks and the command-line tools
fuzz_dir="$build_root/fuzz"        # clang, libFuzzer + ASan + UBSan
win32_dir="$build_root/win32"      # MinGW i686: the DLL (the product) and the host
win64_dir="$build_root/win64"      # MinGW x86_64: the same, for machines that run no 32-bit code
jobs=$(nproc 2>/dev/null || echo 2)
# Every command may be the first one typed on a fresh clone: nothing may expect build/ to exist.
mkdir -p "$build_root"

say() { printf '%s\n' "$*"; }

# Debian packages every command needs; setup installs them, the others check for them. 64-bit
# Wine and both cross compilers everywhere; 32-bit Wine only where the machine runs 32-bit code.
# The native program: EGL, GL and GLU, Mesa's drivers (llvmpipe, and a card's), SDL2 for its
# window, keys and sound.
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  libgtest-dev libgmock-dev libbenchmark-dev
  mesa-common-dev libgl-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libsdl2-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 xvfb xauth libgl1 libglx0 libglx-mesa0 libglu1-mesa
  libsndfile1-dev libfftw3-dev libstb-dev ffmpeg imagemagick nsis zip unzip p7zip-full
)
packages_32bit=(wine32:i386 libgl1:i386 libglx0:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386 libglu1-mesa:i386)

# yes, no or unknown: whether this machine runs i386 programs (only running one tells; see
# _windows_build.py, which writes the probe once). The probe itself is run here: a Python start
# costs more than the rest of a command's checks.
machine_runs_32bit_code() {
  local probe="$build_root/machine/i386-exit-probe"
  if [ ! -x "$probe" ]; then
    command -v python3 >/dev/null 2>&1 || { echo unknown; return; }
    python3 "$top/scripts/_windows_build.py" runs-32bit 2>/dev/null || echo unknown
    return
  fi
  # The shell reports a probe killed by a signal on its stderr: that of the group, here.
  local status
  status=$({ "$probe" >/dev/null; echo $?; } 2>/dev/null)
  if [ "$status" = 42 ]; then echo yes; else echo no; fi
}
if [ "$(machine_runs_32bit_code)" = yes ]; then packages+=("${packages_32bit[@]}"); fi

# The packages of the list that are not installed, one per line. One dpkg-query for the whole list:
# one per package costs seconds on a loaded machine. A name without an architecture is there when
# any architecture of it is installed; name:arch when that one is.
missing_packages() {
  local -A installed=()
  local status name arch p
  while read -r status name arch; do
    [ "$status" = ii ] && installed[$name]=1 && installed[$name:$arch]=1
  done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Architecture}\n' "${packages[@]}" 2>/dev/null)
  for p in "${packages[@]}"; do
    [ -n "${installed[$p]:-}" ] || echo "$p"
  done
}

setup_is_complete() {
  command -v dpkg-query >/dev/null 2>&1 || return 1
  [ -z "$(missing_packages)" ]
}

ensure_setup() {
  setup_is_complete && return 0
  say "Some packages are missing; running ./halcyon setup first."
  bash "$top/scripts/setup.sh"
}

# What every build folder is configured from besides its arguments: the CMake that reads them (its
# binary's size and time, which change with its version: cheaper than starting it) and every CMake
# file of the tree (new files that those glob for are CMake's to notice, with CONFIGURE_DEPENDS).
# Made once per command; one that could not be made whole differs, and configures again.
cmake_inputs() {
  [ -z "${cmake_inputs_fingerprint:-}" ] || return 0
  local cmake
  cmake=$(command -v cmake) || cmake=cmake
  cmake_inputs_fingerprint=$(cd "$top" && find -H "$cmake" . -path "$cmake" -printf '%p %s %T@\n' -o \
    \( -path ./build -o -path ./.git \) -prune -o \( -name CMakeLists.txt -o -name '*.cmake' \) -type f \
    -exec sha256sum {} + 2>/dev/null) || true
}

# configure_and_build DIR [cmake arguments...] [-- targets...]: configures DIR (Ninja) when it has
# no cache or when its arguments or the CMake files changed since (a stamp in DIR; Ninja notices
# changed CMake files itself, but not changed arguments), then builds the targets, or everything.
configure_and_build() {
  local dir=$1; shift
  local arguments=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do arguments+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=("$@")
  [ -d "$build_root" ] || mkdir -p "$build_root"
  cmake_inputs
  local stamp="$dir/halcyon-configured.stamp" fingerprint
  fingerprint=$(printf '%s\n' "${arguments[@]}" "$cmake_inputs_fingerprint")
  if [ ! -f "$dir/CMakeCache.txt" ] || [ ! -f "$stamp" ] || [ "$(<"$stamp")" != "$fingerprint" ]; then
    rm -f "$stamp"
    cmake -S "$top" -B "$dir" -G Ninja "${arguments[@]}" >"$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; say "configure of $dir failed"; return 1; }
    printf '%s\n' "$fingerprint" >"$stamp"
  fi
  # Ninja straight away: cmake --build would only start it, a twentieth of a second later.
  (cd "$dir" && ninja -j "$jobs" "${targets[@]}")
}

build_native() { configure_and_build "$native_dir" -DHALCYON_SANITIZE=ON \
    "-DHALCYON_WIN32_DIR=$win32_dir" "-DHALCYON_WIN64_DIR=$win64_dir" "-DHALCYON_FUZZ_DIR=$fuzz_dir"; }
# build_release [targets...]
build_release() { configure_and_build "$release_dir" -DCMAKE_BUILD_TYPE=Release -- "$@"; }
build_fuzz() {
  configure_and_build "$fuzz_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DHALCYON_SANITIZE=ON -DHALCYON_FUZZ=ON
}
# Both Windows builds, always: the i686 one is the product, the x86_64 one runs where 32-bit code
# cannot. The asset folder beside each DLL is drawn by a native tool, built first: the cross
# builds cannot run their own programs.
build_windows() {
  build_release make_assets || return 1
  local arch dir
  for arch in i686 x86_64; do
    dir=$win32_dir; [ $arch = x86_64 ] && dir=$win64_dir
    configure_and_build "$dir" "-DCMAKE_TOOLCHAIN_FILE=$top/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
      "-DHALCYON_MAKE_ASSETS=$release_dir/tools/make_assets" || return 1
  done
}

# The Windows build that runs here, chosen once per command (i686, or x86_64 where the machine
# runs no 32-bit code, saying so) and handed through HALCYON_WINDOWS_BUILD to everything the
# command starts; windows_dir is its build folder.
choose_windows_build() {
  HALCYON_WINDOWS_BUILD=$(python3 "$top/scripts/_windows_build.py" choose) || exit 1
  export HALCYON_WINDOWS_BUILD HALCYON_WIN32_DIR="$win32_dir" HALCYON_WIN64_DIR="$win64_dir"
  windows_dir=$win32_dir
  [ "$HALCYON_WINDOWS_BUILD" = x86_64 ] && windows_dir=$win64_dir
  return 0
}
