#!/usr/bin/env python3
"""Makes the release packages from a built folder: the NSIS installer and the zip.

    make_packages.py --version 1.2.3 --bin build/win32/bin --out dist [--icon plugin.ico]

--bin holds vis_halcyonsphere.dll and the asset folder as the build made them. Whatever that folder
holds goes into both packages, except the options file: a user's options are theirs, never ours.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
DLL = "vis_halcyonsphere.dll"
ASSETS = "vis_halcyonsphere_assets"
OPTIONS_FILE = "useropt.cfg"
README = "halcyonsphere_readme.txt"
LICENCE = "halcyonsphere_licence.txt"


class PackagingError(Exception):
    pass


def asset_files(bin_dir):
    """The asset folder's files as (relative path with forward slashes, full path), sorted."""
    root = os.path.join(bin_dir, ASSETS)
    if not os.path.isdir(root):
        raise PackagingError("no asset folder at %s; build the product first" % root)
    found = []
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in files:
            full = os.path.join(folder, name)
            relative = os.path.relpath(full, root).replace(os.sep, "/")
            if relative != OPTIONS_FILE:
                found.append((relative, full))
    if not found:
        raise PackagingError("the asset folder %s is empty" % root)
    return sorted(found)


def nsis_name(text):
    """text for an NSIS string, unchanged; refused when NSIS would read part of it as a variable,
    a wildcard or the string's end."""
    if re.search(r'["`$*?\x00-\x1f]', text):
        raise PackagingError("cannot package a path that holds quotes, $, wildcards or control "
                             "characters: %r" % text)
    return text


def write_asset_lists(files, work_dir):
    """Install and uninstall lines for the asset files, folder by folder."""
    install, uninstall = [], []
    folders = set()
    by_folder = {}
    for relative, full in files:
        folder = os.path.dirname(relative)
        by_folder.setdefault(folder, []).append((relative, full))
        while folder:
            folders.add(folder)
            folder = os.path.dirname(folder)
    for folder in sorted(by_folder):
        target = "$INSTDIR\\Plugins\\" + ASSETS + ("\\" + nsis_name(folder.replace("/", "\\")) if folder else "")
        install.append('SetOutPath "%s"' % target)
        for relative, full in by_folder[folder]:
            install.append('File "%s"' % nsis_name(full))
    for relative, _ in files:
        uninstall.append('Delete "$INSTDIR\\%s\\%s"' % (ASSETS, nsis_name(relative.replace("/", "\\"))))
    # Deepest first; RMDir leaves a folder that still holds something of the user's.
    for folder in sorted(folders, key=lambda f: (-f.count("/"), f)):
        uninstall.append('RMDir "$INSTDIR\\%s\\%s"' % (ASSETS, nsis_name(folder.replace("/", "\\"))))
    for name, lines in (("install_assets.nsh", install), ("uninstall_assets.nsh", uninstall)):
        with open(os.path.join(work_dir, name), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")


def windows_text(path, version):
    """A text file of ours as players' users read it: CRLF line ends, the version filled in."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def build_installer(version, bin_dir, files, target, icon, work_dir):
    with open(os.path.join(work_dir, "licence.txt"), "wb") as f:
        f.write(windows_text(os.path.join(HERE, "LICENSE.txt"), version))
    write_asset_lists(files, work_dir)
    command = ["makensis", "-V2", "-WX", "-INPUTCHARSET", "UTF8",
               "-DVERSION=" + version, "-DBIN_DIR=" + bin_dir, "-DWORK_DIR=" + work_dir,
               "-DOUT_FILE=" + target]
    if icon:
        command.append("-DICON=" + icon)
    command.append(os.path.join(HERE, "halcyonsphere.nsi"))
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0 or not os.path.isfile(target):
        raise PackagingError("makensis failed:\n" + result.stdout)


def build_zip(version, bin_dir, files, target):
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(bin_dir, DLL), DLL)
        z.write(os.path.join(bin_dir, ASSETS), ASSETS + "/")
        for relative, full in files:
            z.write(full, ASSETS + "/" + relative)
        z.writestr(README, windows_text(os.path.join(HERE, "readme.txt"), version))
        z.writestr(LICENCE, windows_text(os.path.join(HERE, "LICENSE.txt"), version))


def make_packages(version, bin_dir, out_dir, icon=None):
    """Writes both packages into out_dir and returns their paths (installer, zip)."""
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        raise PackagingError("the version must be three numbers, like 1.2.3, not %r" % version)
    bin_dir = os.path.abspath(bin_dir)
    if not os.path.isfile(os.path.join(bin_dir, DLL)):
        raise PackagingError("no %s in %s; build the product first" % (DLL, bin_dir))
    files = asset_files(bin_dir)
    os.makedirs(out_dir, exist_ok=True)
    installer = os.path.join(out_dir, "halcyonsphere-%s-setup.exe" % version)
    archive = os.path.join(out_dir, "halcyonsphere-%s.zip" % version)
    # Written under other names first, so that a failure never leaves a package that looks whole.
    with tempfile.TemporaryDirectory(prefix="halcyon-package-") as work_dir:
        partial_installer = os.path.join(work_dir, os.path.basename(installer))
        partial_archive = os.path.join(work_dir, os.path.basename(archive))
        build_installer(version, bin_dir, files, partial_installer, icon and os.path.abspath(icon), work_dir)
        build_zip(version, bin_dir, files, partial_archive)
        shutil.move(partial_installer, installer)
        shutil.move(partial_archive, archive)
    return installer, archive


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--bin", required=True, help="folder with the DLL and its asset folder")
    parser.add_argument("--out", required=True, help="folder for the packages")
    parser.add_argument("--icon", help="icon for the installer and the uninstaller")
    args = parser.parse_args()
    try:
        for path in make_packages(args.version, args.bin, args.out, args.icon):
            print("made %s (%d bytes)" % (path, os.path.getsize(path)))
    except PackagingError as error:
        print("make_packages: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
