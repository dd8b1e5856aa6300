# about: build the release packages: dist/halcyonsphere-VERSION-setup.exe and dist/halcyonsphere-VERSION.zip, and the Debian package dist/halcyonsphere_VERSION_ARCH.deb
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/_common.sh"
ensure_setup all
say "Building the plug-in..."
build_windows >"$build_root/package-build.log" 2>&1 || { cat "$build_root/package-build.log"; exit 1; }
# Only this version's packages are replaced: dist/ may keep earlier releases.
rm -rf "$win32_dir/package"
cmake --build "$win32_dir" --target halcyon_package
say "Building the native program and its Debian package..."
source "$top/scripts/_deb.sh"
build_deb >"$build_root/package-deb.log" 2>&1 || { cat "$build_root/package-deb.log"; exit 1; }
mkdir -p "$top/dist"
for made in "$win32_dir"/package/* "$deb"; do
  cp "$made" "$top/dist/"
  say "package: dist/$(basename "$made") ($(stat -c %s "$made") bytes)"
done
