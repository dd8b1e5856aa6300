# about: install every system package the project needs (apt-get; safe to run twice)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  libgtest-dev libgmock-dev libbenchmark-dev
  mesa-common-dev libgl-dev libglu1-mesa-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 xvfb xauth
  libgl1:i386 libglx0:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386 libglu1-mesa:i386
)

if [ "$(id -u)" != 0 ]; then
  say "setup installs system packages and must run as root"; exit 1
fi
# 32-bit Wine needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  say "setup: every package is already installed."
  exit 0
fi
say "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
say "setup: done."
