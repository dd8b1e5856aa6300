#!/usr/bin/env python3
"""Makes the Debian package of the native program, OUT/halcyonsphere_VERSION_ARCH.deb, from a
release build: the build installed under /usr into a staging root, made the way Debian wants it
(stripped, man page compressed, files 0644 and folders 0755, owned by root), its Depends taken
from the binary by dpkg-shlibdeps, plus ffmpeg, which render runs as a program.

make_deb.py --build DIR --out DIR --version X.Y.Z

The version and the maintainer are those of the first entry of installer/linux/changelog.
"""
import argparse
import gzip
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

PACKAGE = "halcyonsphere"
# What the binary links is dpkg-shlibdeps's to find; what it starts as a program (ffmpeg) or loads
# through EGL at run time (Mesa's drivers, with llvmpipe where there is no graphics card) is not.
PROGRAM_DEPENDS = ["ffmpeg", "libgl1-mesa-dri"]
DESCRIPTION = """\
music visualization: lit planets that pulse and blur with the music
 Halcyonsphere is the visualization plug-in of a classic media player, here
 as a native program. It draws spheres lit per pixel as planets over a
 feedback background, with a radial blur whose colours follow the two
 channels of the music.
 .
 halcyonsphere render turns any audio file (WAV, FLAC, Ogg Vorbis, Opus, MP3,
 AIFF) into an H.264 video with its sound, offscreen, on the graphics card or
 in software; halcyonsphere play shows it live in a window with the sound.
 The package also holds the tools that make and check the plug-in's asset
 set and sphere models."""


class Failure(Exception):
    pass


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        lines = (result.stderr or result.stdout).strip().splitlines()
        raise Failure(f"{command[0]} failed" + (": " + lines[-1] if lines else ""))
    return result.stdout


def stage(build, root):
    """The build installed under /usr in root, as Debian wants it."""
    shutil.rmtree(root, ignore_errors=True)
    run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root))
    programs = os.path.join(root, "usr/bin")
    for name in os.listdir(programs):
        # As dh_strip does: no symbols, and none of the compiler's notes either.
        run(["strip", "--remove-section=.comment", "--remove-section=.note", "--strip-unneeded",
             os.path.join(programs, name)])
    man = os.path.join(root, "usr/share/man")
    for folder, _, files in os.walk(man):
        for name in files:
            if name.endswith(".gz"):
                continue
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            # mtime 0 and no name: the same page gives the same bytes.
            with open(path + ".gz", "wb") as out:
                with gzip.GzipFile(filename="", mode="wb", fileobj=out, compresslevel=9, mtime=0) as z:
                    z.write(data)
            os.remove(path)
    for folder, folders, files in os.walk(root):
        os.chmod(folder, 0o755)
        for name in files:
            path = os.path.join(folder, name)
            executable = os.path.relpath(folder, root) == "usr/bin"
            os.chmod(path, 0o755 if executable else 0o644)


def shlib_depends(root):
    """The Depends that dpkg-shlibdeps reads off the binaries."""
    binaries = [os.path.join(root, "usr/bin", name) for name in sorted(os.listdir(os.path.join(root, "usr/bin")))]
    with tempfile.TemporaryDirectory() as scratch:
        # It insists on a source package's control file in the folder it runs in.
        os.mkdir(os.path.join(scratch, "debian"))
        with open(os.path.join(scratch, "debian/control"), "w") as f:
            f.write(f"Source: {PACKAGE}\n\nPackage: {PACKAGE}\nArchitecture: any\n")
        out = run(["dpkg-shlibdeps", "-O", "-e", *binaries], cwd=scratch)
    for line in out.splitlines():
        if line.startswith("shlibs:Depends="):
            return [d.strip() for d in line.split("=", 1)[1].split(",") if d.strip()]
    raise Failure("dpkg-shlibdeps named no libraries")


def installed_size_kib(root):
    """As dpkg-gencontrol counts it: each file's size in KiB rounded up, one for every other entry."""
    total = 0
    for folder, folders, files in os.walk(root):
        total += len(folders)
        for name in files:
            total += (os.lstat(os.path.join(folder, name)).st_size + 1023) // 1024
    return total


def write_control(root, version, maintainer, depends):
    debian = os.path.join(root, "DEBIAN")
    os.mkdir(debian, 0o755)
    arch = run(["dpkg", "--print-architecture"]).strip()
    sums = []
    for folder, folders, files in os.walk(root):
        folders[:] = sorted(f for f in folders if os.path.join(folder, f) != debian)
        for name in sorted(files):
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                sums.append(f"{hashlib.md5(f.read()).hexdigest()}  {os.path.relpath(path, root)}\n")
    control = (f"Package: {PACKAGE}\nVersion: {version}\nArchitecture: {arch}\nMaintainer: {maintainer}\n"
               f"Installed-Size: {installed_size_kib(root)}\nDepends: {', '.join(depends)}\n"
               f"Section: sound\nPriority: optional\nDescription: {DESCRIPTION}\n")
    for name, text in (("control", control), ("md5sums", "".join(sums))):
        with open(os.path.join(debian, name), "w") as f:
            f.write(text)
        os.chmod(os.path.join(debian, name), 0o644)
    return arch


def changelog_entry(root):
    """The version and the maintainer of the changelog's first entry."""
    with gzip.open(os.path.join(root, "usr/share/doc", PACKAGE, "changelog.gz"), "rt") as f:
        lines = f.read().splitlines()
    version = lines[0].split("(", 1)[1].split(")", 1)[0] if lines and "(" in lines[0] else ""
    trailer = next((line for line in lines if line.startswith(" -- ")), "")
    return version, trailer[4:].split("  ", 1)[0].strip()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args(argv)
    root = os.path.join(args.out, "root")
    try:
        stage(args.build, root)
        # The package's version is the project's; the changelog is written by hand and must follow.
        version, maintainer = changelog_entry(root)
        if version != args.version or not maintainer:
            raise Failure(f"the first entry of installer/linux/changelog is for {version!r}, the project is "
                          f"{args.version}: add an entry, with its maintainer's line")
        depends = shlib_depends(root) + PROGRAM_DEPENDS
        arch = write_control(root, args.version, maintainer, depends)
        deb = os.path.join(args.out, f"{PACKAGE}_{args.version}_{arch}.deb")
        partial = deb + ".partial"
        run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, partial])
        os.replace(partial, deb)
    except Failure as failure:
        print(f"make_deb: {failure}", file=sys.stderr)
        return 1
    print(deb)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
