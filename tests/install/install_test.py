#!/usr/bin/env python3
"""The Debian package as a user's machine runs it: unpacked (dpkg-deb -x) into a scratch root, its
program run from another folder as a plain user whose HOME is a scratch folder, with the checkout
hidden (a private mount over it), so nothing may come from the source or build tree. Each step is
one command and what its result must show; afterwards the options file is in HOME and nothing in
the root has changed.

install_test.py DEB VERSION SOURCE_DIR"""
import json
import os
import pwd
import stat
import subprocess
import sys
import tempfile
import wave

SKIP = 77  # ctest's SKIP_RETURN_CODE
ASSETS = "usr/share/halcyonsphere/vis_halcyonsphere_assets"
COMMANDS = ["render", "play", "demo", "model-info", "make-assets", "check-assets", "bmp-info"]


def snapshot(root):
    """Every path under root with its kind, mode, size and modification time."""
    seen = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            seen[os.path.relpath(path, root)] = (stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode),
                                                 info.st_size, info.st_mtime_ns)
    return seen


def steps(root, home, work, version):
    """(what, arguments, extra environment, check): check returns what is wrong, or None."""
    assets = os.path.join(root, ASSETS)
    config = os.path.join(home, ".config/halcyonsphere/useropt.cfg")

    def version_line(r):
        return None if r.returncode == 0 and r.stdout == f"halcyonsphere {version}\n" else "not the version line"

    def lists_commands(r):
        missing = [c for c in COMMANDS if f"  {c} " not in r.stdout]
        return "does not list " + ", ".join(missing) if r.returncode or missing else None

    def checks_installed_set(expected_options):
        def check(r):
            wanted = [f"What the plug-in's Init makes of {assets}:", f"(the options, from {expected_options})",
                      "compiled by", "Init would succeed with this folder."]
            missing = [w for w in wanted if w not in r.stdout]
            return f"exit {r.returncode}, missing {missing}" if r.returncode or missing else None
        return check

    def reads_model(r):
        meshes = json.loads(r.stdout)["meshes"] if r.returncode == 0 else []
        return None if meshes and meshes[0]["vertex_count"] > 0 else "no mesh read"

    def reads_bitmap(r):
        info = json.loads(r.stdout) if r.returncode == 0 else {}
        return None if info.get("accepted") and info.get("width") == 1024 else f"not accepted: {info}"

    def writes_the_same_set(r):
        # The fragment program is built in: the installed program has no source tree to read it from.
        made = os.path.join(work, "set")
        same = r.returncode == 0 and all(
            open(os.path.join(made, name), "rb").read() == open(os.path.join(assets, name), "rb").read()
            for name in os.listdir(assets))
        return None if same else f"exit {r.returncode}, not the installed set: {r.stderr.strip()}"

    def refuses_in_one_line(r):
        lines = r.stderr.splitlines()
        return None if r.returncode == 2 and len(lines) == 1 and lines[0].startswith("halcyonsphere: ") else \
            f"exit {r.returncode}, stderr {r.stderr!r}"

    def made_video(name):
        def check(r):
            path = os.path.join(work, name)
            ok = r.returncode == 0 and f"Wrote {name}: " in r.stdout and os.path.getsize(path) > 1000
            return None if ok else f"exit {r.returncode}, no {name}: {r.stderr.strip()}"
        return check

    def help_of(command):
        return lambda r: None if r.returncode == 0 and r.stdout.startswith(f"usage: halcyonsphere {command} ") \
            else f"exit {r.returncode}: {r.stdout[:80]!r}"

    xdg = os.path.join(home, "xdg")
    return [
        ("--version", ["--version"], {}, version_line),
        ("--help", ["--help"], {}, lists_commands),
        *[(f"{c} --help", [c, "--help"], {}, help_of(c)) for c in COMMANDS],
        ("check-assets, first run", ["check-assets"], {}, checks_installed_set(config)),
        ("check-assets again", ["check-assets"], {}, checks_installed_set(config)),
        ("check-assets, XDG_CONFIG_HOME set", ["check-assets"], {"XDG_CONFIG_HOME": xdg},
         checks_installed_set(os.path.join(xdg, "halcyonsphere/useropt.cfg"))),
        ("model-info", ["model-info", os.path.join(assets, "sphere2.qtl"), "--json"], {}, reads_model),
        ("bmp-info", ["bmp-info", os.path.join(assets, "decal.bmp"), "--json"], {}, reads_bitmap),
        ("make-assets", ["make-assets", os.path.join(work, "set")], {}, writes_the_same_set),
        ("render", ["render", "clip.wav", "--seconds", "1", "--size", "160x120", "--gl", "software"], {},
         made_video("clip.mp4")),
        ("demo", ["demo", "--seconds", "1", "--size", "160x120", "--gl", "software"], {}, made_video("demo.mp4")),
        ("an unknown command", ["no-such-command"], {}, refuses_in_one_line),
    ]


def main(deb, version, source_dir):
    if os.geteuid() != 0:
        print("skipped: running the program as another user and hiding the checkout need root")
        return SKIP
    user = pwd.getpwnam("nobody")
    # Outside the checkout, which each step hides.
    inside = os.path.realpath(tempfile.gettempdir()).startswith(os.path.realpath(source_dir) + os.sep)
    scratch = tempfile.mkdtemp(prefix="install_test_", dir="/tmp" if inside else None)
    os.chmod(scratch, 0o755)  # the user passes through to the root and to its own folders
    root, home, work, tmp = (os.path.join(scratch, name) for name in ("root", "home", "work", "tmp"))
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    for folder in (home, work, tmp):
        os.mkdir(folder, 0o755)
        os.chown(folder, user.pw_uid, user.pw_gid)
    with wave.open(os.path.join(work, "clip.wav"), "wb") as clip:  # a second of a quiet tone
        clip.setnchannels(2)
        clip.setsampwidth(2)
        clip.setframerate(22050)
        clip.writeframes(b"".join((int(3000 * ((i // 50) % 2 * 2 - 1))).to_bytes(2, "little", signed=True) * 2
                                  for i in range(22050)))
    os.chown(os.path.join(work, "clip.wav"), user.pw_uid, user.pw_gid)
    program = os.path.join(root, "usr/bin/halcyonsphere")
    before = snapshot(root)
    failures = []
    for what, arguments, extra, check in steps(root, home, work, version):
        environment = {"PATH": "/usr/bin:/bin", "HOME": home, "TMPDIR": tmp, "LANG": "C.UTF-8", **extra}
        # A private mount over the checkout, then the plain user.
        command = ["unshare", "-m", "sh", "-c",
                   'mount -t tmpfs -o size=1m hidden "$0" && cd "$1" && shift && exec setpriv '
                   f'--reuid={user.pw_uid} --regid={user.pw_gid} --clear-groups -- "$@"',
                   source_dir, work, program, *arguments]
        result = subprocess.run(command, env=environment, capture_output=True, text=True, timeout=300)
        problem = check(result)
        print(f"{'ok  ' if problem is None else 'FAIL'} {what}")
        if problem is not None:
            failures.append(f"{what}: {problem}\n{result.stderr}")
    config = os.path.join(home, ".config/halcyonsphere")
    made = os.path.join(config, "useropt.cfg")
    if not (os.path.isfile(made) and os.path.getsize(made) == 56 and os.stat(made).st_uid == user.pw_uid):
        failures.append(f"no 56-byte options file of the user's at {made}")
    elif stat.S_IMODE(os.stat(config).st_mode) != 0o700:
        failures.append(f"{config} is not private to the user (XDG: 0700)")
    after = snapshot(root)
    changed = sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))
    if changed:
        failures.append("the program changed its install root: " + ", ".join(changed[:20]))
    subprocess.run(["rm", "-rf", scratch])
    print("\n".join(failures) or f"the package runs from {len(before)} unpacked paths, as a plain user")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
