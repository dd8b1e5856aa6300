# Shared by package and test: the Debian package of the native program, made from the release
# build (with prefix /usr) into $release_dir/deb; $deb names it.
project_version=$(sed -n 's/^project(halcyonsphere VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
deb="$release_dir/deb/halcyonsphere_${project_version}_$(dpkg --print-architecture).deb"
build_deb() { build_release halcyonsphere_deb; }
