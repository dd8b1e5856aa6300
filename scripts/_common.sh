# Shared by the scripts behind ./halcyon: paths, build folders, and the check that set-up ran.
# Ctrl-C, SIGTERM or a closed terminal while a command builds or checks: it stops there and says
# so, whatever the interrupted step would have reported (a build "failure", an empty answer).
# Steps whose output goes to a log run in a subshell, ( ... ) >log, so that this runs outside it.
# Set first, before anything that starts a process.
# A Ctrl-C typed on the terminal left its ^C echo on the line: the note goes on a line of its own.
trap '{ [ -t 2 ] && printf "\n"; printf "halcyon: interrupted.\n"; } >&2 2>/dev/null; exit 130' INT
trap 'printf "halcyon: interrupted.\n" >&2 2>/dev/null; exit 130' TERM HUP
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
# microseconds: the clock's microseconds into now_us, without a subshell. EPOCHREALTIME's
# separator is the locale's (a comma in de_DE): its digits alone are the count.
microseconds() { now_us=${EPOCHREALTIME//[!0-9]/}; }

# Debian packages by need, one list per set. Each command checks for its need's sets
# (ensure_setup NEED) and ./halcyon setup NEED installs them; with no argument, everything.
#   native: the native program and the audio, asset and model tools (demo, render, play, pictures,
#           make-assets, check-assets, model-info, bmp-info): EGL, GL and GLU, Mesa's drivers
#           (llvmpipe, and a card's), SDL2 for the window, keys and sound, ffmpeg for the video.
#   wine:   native, and the Windows builds under 64-bit Wine on a virtual display (--wine,
#           --plugin, host): both cross compilers, as every Windows build makes both.
#   all:    wine, and the tests, fuzzers, benchmarks and release packages (test, bench, build,
#           package).
packages_native=(
  cmake ninja-build g++ python3
  mesa-common-dev libgl-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libsdl2-dev
  libsndfile1-dev libfftw3-dev libstb-dev ffmpeg pkg-config libpulse-dev
)
packages_wine=(
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 xvfb xauth libgl1 libglx0 libglx-mesa0 libglu1-mesa
)
# What the tests and benchmarks build with; the release build configures them only where present.
packages_test_libraries=(libgtest-dev libgmock-dev libbenchmark-dev)
packages_all=(
  clang libclang-rt-14-dev "${packages_test_libraries[@]}"
  imagemagick nsis zip unzip p7zip-full
  lintian desktop-file-utils dpkg-dev pulseaudio pulseaudio-utils
  xdotool evilwm  # the native window's tests: keys, clicks and a window manager's fullscreen on Xvfb
)
# 32-bit Wine and its GL, for the i686 build, wanted with Wine where the machine runs 32-bit code.
# Never required: where they cannot be installed, the x86_64 build runs under 64-bit Wine.
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

# need_packages NEED (native, wine or all): sets required, what NEED cannot do without, and
# wanted, what it installs where it can (32-bit Wine, where the machine runs 32-bit code).
need_packages() {
  required=("${packages_native[@]}")
  wanted=()
  case "$1" in
    wine) required+=("${packages_wine[@]}") ;;
    all) required+=("${packages_wine[@]}" "${packages_all[@]}") ;;
  esac
  if [ "$1" != native ] && [ "$(machine_runs_32bit_code)" = yes ]; then wanted=("${packages_32bit[@]}"); fi
  return 0
}

# query_installed_packages NAME...: which of them are installed, into installed_packages. One
# dpkg-query for the whole list: one per package costs seconds on a loaded machine. A name without
# an architecture is there when any architecture of it is installed; name:arch when that one is.
declare -A installed_packages=()
query_installed_packages() {
  installed_packages=()
  local status name arch
  while read -r status name arch; do
    [ "$status" = ii ] && installed_packages[$name]=1 && installed_packages[$name:$arch]=1
  done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Architecture}\n' "$@" 2>/dev/null)
  return 0
}

# not_installed ARRAY NAME...: sets ARRAY to the names the last query did not find installed.
not_installed() {
  local -n not_installed_into=$1
  shift
  not_installed_into=()
  local name
  for name in "$@"; do
    [ -n "${installed_packages[$name]:-}" ] || not_installed_into+=("$name")
  done
}

# Left by a set-up while the i386 architecture it added has nothing installed from it: a set-up
# cut short there (even by kill -9) is finished by the next command that wants 32-bit Wine.
i386_added_marker="$build_root/setup-added-i386"
# Why the last set-up could not install 32-bit Wine, in one line, until one does.
wine32_failure_record="$build_root/setup-32bit-wine.failed"

# ensure_setup NEED: runs ./halcyon setup NEED first when a package NEED requires is missing (or
# a set-up was cut short while adding the i386 architecture). Missing 32-bit Wine alone runs
# nothing: it is only wanted, and the choice of Windows build says so. Afterwards wine32_reason
# (for wine and all) says why 32-bit Wine cannot run the i686 build, empty when it can, and
# release_tests whether the release build configures the tests and benchmarks.
ensure_setup() {
  local need=${1:-all} missing=() missing_32bit=() missing_test_libraries=()
  need_packages "$need"
  query_installed_packages "${required[@]}" "${wanted[@]}" "${packages_test_libraries[@]}"
  not_installed missing "${required[@]}"
  if [ ${#missing[@]} -gt 0 ] || { [ "$need" != native ] && [ -e "$i386_added_marker" ]; }; then
    say "Some packages are missing; running ./halcyon setup $need first."
    bash "$top/scripts/setup.sh" "$need" || return 1
    need_packages "$need"
    query_installed_packages "${required[@]}" "${wanted[@]}" "${packages_test_libraries[@]}"
  fi
  not_installed missing_test_libraries "${packages_test_libraries[@]}"
  release_tests=ON
  [ ${#missing_test_libraries[@]} -eq 0 ] || release_tests=OFF
  [ "$need" != native ] || return 0
  not_installed missing_32bit "${wanted[@]}"
  wine32_reason=""
  if [ ${#missing_32bit[@]} -gt 0 ]; then
    if [ -f "$wine32_failure_record" ]; then
      wine32_reason="$(<"$wine32_failure_record"); './halcyon setup' tries again"
    else
      wine32_reason="32-bit Wine is not installed (${missing_32bit[*]}); './halcyon setup' installs it"
    fi
  fi
  return 0
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
# build_release [targets...]: the tests and benchmarks only where their libraries are installed, so
# that the native set alone builds the native program; a set-up that adds them configures again.
build_release() { configure_and_build "$release_dir" -DCMAKE_BUILD_TYPE=Release "-DHALCYON_TESTS=${release_tests:-ON}" -- "$@"; }
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
# runs no 32-bit code or 32-bit Wine is missing, saying so once) and handed through
# HALCYON_WINDOWS_BUILD to everything the command starts; windows_dir is its build folder, and
# windows_build_reason why it is not the i686 one (empty when it is, or when it was asked for).
# What ensure_setup found of 32-bit Wine goes to the choice, and to the tests, through HALCYON_NO_WINE32.
# choose_windows_build later: the reason goes to the run (HALCYON_WINDOWS_BUILD_NOTE) to say.
choose_windows_build() {
  [ -z "${wine32_reason+set}" ] || export HALCYON_NO_WINE32="$wine32_reason"
  local answer
  answer=$(python3 "$top/scripts/_windows_build.py" choose) || exit 1
  HALCYON_WINDOWS_BUILD=${answer%%$'\n'*}
  windows_build_reason=${answer#"$HALCYON_WINDOWS_BUILD"}
  windows_build_reason=${windows_build_reason#$'\n'}
  if [ -n "$windows_build_reason" ] && [ "${1:-}" = later ]; then
    # Said by the run once Wine starts: a refusal before then stays one line.
    export HALCYON_WINDOWS_BUILD_NOTE="using the 64-bit Windows build and 64-bit Wine: $windows_build_reason."
  elif [ -n "$windows_build_reason" ]; then
    say "halcyon: using the 64-bit Windows build and 64-bit Wine: $windows_build_reason." >&2
  fi
  export HALCYON_WINDOWS_BUILD HALCYON_WIN32_DIR="$win32_dir" HALCYON_WIN64_DIR="$win64_dir"
  windows_dir=$win32_dir
  [ "$HALCYON_WINDOWS_BUILD" = x86_64 ] && windows_dir=$win64_dir
  return 0
}
