"""Wine for one run: a prefix of its own and, unless it plays on the user's display, a private
virtual display.

Every run gets its own prefix, so its own Wine server: a copy of a template prefix that the first
run makes once (about 20 seconds, under a lock; one per Wine version) in build/wine/. The copy
links the template's big system binaries, which Wine never writes, and copies everything else, the
registry among it (Wine's server writes a linked registry file in place); it takes a fraction of
a second. The user's WINEPREFIX is never used: HALCYON_WINE_PREFIX=DIR makes runs start from a
copy of DIR instead of the template, leaving DIR itself untouched. Settings the run needs are made
in its own copy, and close() of the run ends the server and every process in that prefix alone.

A session runs one Windows build (_windows_build.py): a 32-bit prefix and Wine's 32-bit loader
for the i686 build, a 64-bit prefix and the 64-bit loader for the x86_64 one, each from a template
of its own. Processes started inside a session (the Wine tests under ./halcyon test, a render
started by a test) find HALCYON_WINE_SESSION naming the session's prefix and use it as it is when
it runs their build; one that needs the other build starts a session of its own.
"""

import fcntl
import os
import re
import shutil
import signal
import subprocess

import _run
import _windows_build

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_DIR = os.path.join(REPO, "build", "wine")
# Linked, not copied: binaries this big under drive_c/windows; everything else is copied.
LINK_AT_LEAST = 64 * 1024
# A server outlives its last program this long, so the steps of a run share it; after a kill -9
# of the run, what is left in the prefix ends by itself this long after its last program.
SERVER_PERSISTENCE = 30


class WineError(Exception):
    pass


def wine_version(build):
    try:
        text = subprocess.run([build.loader, "--version"], capture_output=True, text=True, timeout=60,
                              stdin=subprocess.DEVNULL).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        text = ""
    return re.sub(r"[^A-Za-z0-9.+~-]+", "_", text) or "unknown"


def base_environment(prefix, build, display=None):
    env = {"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEARCH": build.wine_arch, "WINELOADER": build.loader,
           # No installer prompts in a new prefix; no debugger holding a crashed process alive.
           "WINEDLLOVERRIDES": "mscoree,mshtml=;winedbg.exe=d"}
    if display is not None:
        env["DISPLAY"] = display
    return env


def copy_prefix(source, target):
    """A prefix of its own from source: links for the big system binaries, copies for the rest."""
    source = os.path.abspath(source)
    for folder, folders, files in os.walk(source):
        relative = os.path.relpath(folder, source)
        into = os.path.normpath(os.path.join(target, relative))
        os.makedirs(into, exist_ok=True)
        shutil.copystat(folder, into)
        for name in folders + files:
            path = os.path.join(folder, name)
            destination = os.path.join(into, name)
            if os.path.islink(path):
                os.symlink(os.readlink(path), destination)
                if name in folders:
                    folders.remove(name)  # never walk through a link (z: is the whole disk)
            elif name in files:
                linkable = (relative + os.sep).startswith(os.path.join("drive_c", "windows") + os.sep)
                try:
                    if linkable and not name.endswith(".reg") and os.path.getsize(path) >= LINK_AT_LEAST:
                        os.link(path, destination)
                        continue
                except OSError:  # another file system (a prefix of the user's): a copy then
                    pass
                shutil.copy2(path, destination)


def loader():
    """The Wine program that starts Windows programs in this process's session."""
    return os.environ.get("WINELOADER") or _windows_build.chosen().loader


def wine_call(run, env, arguments, timeout=120):
    return run.call([env.get("WINELOADER") or loader()] + arguments, timeout, env=dict(os.environ, **env))


def make_template(run, display, build):
    """The template prefix for this Wine version and build, made the first time (under a lock,
    so that runs started together make it once)."""
    os.makedirs(WINE_DIR, exist_ok=True)
    template = os.path.join(WINE_DIR, "template-%s-%s" % (build.wine_arch, wine_version(build)))
    if os.path.isdir(template):
        return template
    with open(os.path.join(WINE_DIR, "template-%s.lock" % build.wine_arch), "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            _run.tell("Waiting for another run to finish making the Wine prefix...")
            fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isdir(template):
            return template
        # What a run killed while making this one left (the other build's is its own lock's).
        partial_prefix = os.path.basename(template) + ".partial-"
        for name in os.listdir(WINE_DIR):
            if name.startswith(partial_prefix):
                shutil.rmtree(os.path.join(WINE_DIR, name), ignore_errors=True)
        partial = run.create_temporary(WINE_DIR, partial_prefix, directory=True)
        run.wine_prefix(partial, _run.end_wine_prefix)
        _run.tell("Making the Wine prefix (first time only, about 20 seconds)...")
        env = base_environment(partial, build, display)
        if run.call([build.loader, "wineboot.exe", "-i"], 300, env=dict(os.environ, **env)) != 0:
            raise WineError("could not make a Wine prefix (wineboot -i failed, %s)" % build.loader)
        # Xvfb runs no window manager, and Wine would wait for one at every window it shows or
        # hides (runs on the user's display take this back in their own copy). DirectDraw
        # plug-ins show their frames under Xvfb through Direct3D's GDI renderer.
        for key, value, data in (("X11 Driver", "Managed", "N"), ("Direct3D", "renderer", "gdi")):
            wine_call(run, env, ["reg", "add", "HKCU\\Software\\Wine\\" + key, "/v", value, "/d", data, "/f"])
        _run.end_wine_prefix(partial)
        os.rename(partial, template)
        run.release(partial)
    return template


def start_display(run, screen):
    """A private Xvfb at least screen big; its DISPLAY. Xvfb picks a free number itself
    (-displayfd), so runs started together never race for one, and a killed run's lock files
    do not stand in its way."""
    width, height = max(screen[0] + 64, 1280), max(screen[1] + 64, 1024)
    reader, writer = os.pipe()
    try:
        xvfb = run.spawn(["Xvfb", "-displayfd", str(writer), "-screen", "0", "%dx%d" % (width, height) + "x24",
                          "-nolisten", "tcp"], die_signal=signal.SIGTERM, pass_fds=(writer,),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(writer)
        writer = None
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(reader, 16)
            if not chunk:
                break
            number += chunk
    finally:
        os.close(reader)
        if writer is not None:
            os.close(writer)
    if not number.strip().isdigit() or xvfb.poll() is not None:
        raise WineError("the virtual display (Xvfb) did not start")
    return ":" + number.decode().strip()


def prefix_arch(prefix):
    """win32 or win64, as the prefix's registry says, or None."""
    try:
        with open(os.path.join(prefix, "system.reg"), "rb") as f:
            found = re.search(rb"^#arch=(win32|win64)$", f.read(4096), re.M)
    except OSError:
        return None
    return found.group(1).decode() if found else None


def nested_session(build=None):
    """The session this process runs inside, or None: its prefix must be one a run made, for the
    build given (by default the one this command runs)."""
    build = build or _windows_build.chosen()
    prefix = os.environ.get("HALCYON_WINE_SESSION", "")
    inside = os.path.realpath(prefix).startswith(os.path.realpath(_run.RUNS) + os.sep)
    if inside and os.path.isdir(prefix) and os.environ.get("WINEPREFIX") == prefix and os.environ.get("DISPLAY") \
            and os.environ.get("WINEARCH") == build.wine_arch and os.environ.get("WINELOADER") == build.loader:
        return prefix
    return None


def start_session(run, screen=(1280, 1024), own_display=True, build=None):
    """Wine ready to run the build (by default the one this command runs) in this process's
    environment: a display, a prefix of the run's own with its server up. Undone by the run's
    close()."""
    build = build or _windows_build.chosen()
    if nested_session(build):
        return
    if not os.path.exists(build.loader):
        raise WineError("%s Wine is not installed (%s is missing); ./halcyon setup installs it"
                        % ("32-bit" if build.wine_arch == "win32" else "64-bit", build.loader))
    display = start_display(run, screen) if own_display else os.environ.get("DISPLAY")
    source = os.environ.get("HALCYON_WINE_PREFIX")
    if source:
        if not os.path.isfile(os.path.join(source, "system.reg")):
            raise WineError("HALCYON_WINE_PREFIX=%s is not a Wine prefix (it has no system.reg)" % source)
        arch = prefix_arch(source)
        if arch and arch != build.wine_arch:
            raise WineError("HALCYON_WINE_PREFIX=%s is a %s prefix; the %s build runs in a %s one"
                            % (source, arch, build.name, build.wine_arch))
    else:
        source = make_template(run, display, build)
    prefix = os.path.join(run.folder, "prefix")
    run.wine_prefix(prefix, _run.end_run_prefix)
    copy_prefix(source, prefix)
    env = base_environment(prefix, build, display)
    os.environ.update(env)
    os.environ["HALCYON_WINE_SESSION"] = prefix  # runs started inside this one use it
    run.call(["wineserver", "-p%d" % SERVER_PERSISTENCE], 60)
    # The user's window manager gives the window its frame and close box. Where none runs, the
    # windows stay unmanaged: Wine would wait seconds for one at each window it hides.
    if not own_display and window_manager_runs(display):
        wine_call(run, {}, ["reg", "delete", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/f"])


def window_manager_runs(display):
    """Whether a window manager says it runs on the display (_NET_SUPPORTING_WM_CHECK on the
    root window); True where that cannot be told (no xprop)."""
    try:
        result = subprocess.run(["xprop", "-display", display, "-root", "_NET_SUPPORTING_WM_CHECK"],
                                capture_output=True, text=True, timeout=10, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return True
    if result.returncode != 0:
        return True
    return "window id" in result.stdout
