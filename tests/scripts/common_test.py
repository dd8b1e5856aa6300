"""What every ./halcyon command does first (scripts/_common.sh) and the set-up it runs
(scripts/setup.sh), over fake dpkg-query, dpkg, apt-get, cmake and ninja in a tree of its own: one
query for a command's packages, each command installing only what it needs, a package list or a
32-bit package that apt cannot have, and CMake configured only when something it reads changed."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts")
sys.path.insert(0, SCRIPTS)
import _windows_build  # noqa: E402

FAKES = {
    # Answers from the file "dpkg" whatever is asked, as dpkg-query -W -f '${db:Status-Abbrev} ...' would.
    "dpkg-query": 'echo dpkg-query >>"$CALLS"; cat "$TREE/dpkg"',
    "cmake": 'echo "configure $*" >>"$CALLS"; [ -z "$FAKE_CMAKE_FAILS" ] || exit 1\n'
             'while [ "$1" != -B ]; do shift; done; mkdir -p "$2"; touch "$2/CMakeCache.txt"',
    "ninja": 'echo "ninja $*" >>"$CALLS"',
    "id": 'echo 0',
    # The architectures in the file "foreign"; one in use by an installed package stays.
    "dpkg": 'echo "dpkg $*" >>"$CALLS"\n'
            'case "$1" in\n'
            '  --print-foreign-architectures) cat "$TREE/foreign" 2>/dev/null ;;\n'
            '  --add-architecture) echo "$2" >>"$TREE/foreign" ;;\n'
            '  --remove-architecture)\n'
            '    if grep -q " $2$" "$TREE/dpkg"; then echo "dpkg: error: architecture $2 is in use" >&2; exit 2; fi\n'
            '    grep -vx "$2" "$TREE/foreign" >"$TREE/foreign.new"; mv "$TREE/foreign.new" "$TREE/foreign" ;;\n'
            'esac',
    # update: FAKE_UPDATE ok, partial (the i386 list of the security archive mid-sync) or none
    # (no archive). install: "installs" into the file "dpkg", refusing the packages that match
    # FAKE_REFUSE as apt does a version mismatch, and i386 ones before that architecture is added;
    # FAKE_HANG matches packages whose install hangs.
    "apt-get": 'set -f; echo "apt-get $*" >>"$CALLS"\n'
               'hit="Hit:1 http://deb.example/debian bookworm InRelease"\n'
               'if [ "$1" = update ]; then\n'
               '  case "${FAKE_UPDATE:-ok}" in\n'
               '    ok) echo "$hit" ;;\n'
               '    partial) echo "$hit"; echo "Err:2 http://deb.example/debian-security bookworm-security/main i386 Packages"\n'
               '      echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/'
               'Packages.xz  File has unexpected size (25 != 26). Mirror sync in progress? [IP: 192.0.2.1 80]"\n'
               '      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."\n'
               '      exit 100 ;;\n'
               '    none) echo "Err:1 http://deb.example/debian bookworm InRelease"\n'
               '      echo "W: Failed to fetch http://deb.example/debian/dists/bookworm/InRelease  Temporary failure"\n'
               '      echo "W: Some index files failed to download. They have been ignored, or old ones used instead." ;;\n'
               '  esac\n'
               '  exit 0\n'
               'fi\n'
               'shift; names=""\n'
               'for name in "$@"; do case "$name" in -*) ;; *) names="$names $name" ;; esac; done\n'
               'for name in $names; do\n'
               '  case "$name" in *:i386) grep -qx i386 "$TREE/foreign" 2>/dev/null ||'
               ' { echo "E: Unable to locate package $name"; exit 100; } ;; esac\n'
               '  for pattern in $FAKE_HANG; do case "$name" in $pattern) sleep 60 ;; esac; done\n'
               '  for pattern in $FAKE_REFUSE; do case "$name" in $pattern)\n'
               '    echo "The following packages have unmet dependencies:"\n'
               '    echo " $name : Depends: ${name%%:*}-data (= 2) but 1 is to be installed"\n'
               '    echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;; esac; done\n'
               'done\n'
               'for name in $names; do case "$name" in *:*) echo "ii  ${name%%:*} ${name#*:}" ;;'
               ' *) echo "ii  $name amd64" ;; esac; done >>"$TREE/dpkg"',
}


class CommonTest(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="halcyon-common-test-")
        self.addCleanup(shutil.rmtree, self.tree, True)
        os.makedirs(os.path.join(self.tree, "scripts"))
        for script in ("_common.sh", "setup.sh", "_video.sh", "demo.sh"):
            shutil.copy(os.path.join(SCRIPTS, script), os.path.join(self.tree, "scripts"))
        os.makedirs(os.path.join(self.tree, "fakes"))
        for name, body in FAKES.items():
            self.write(os.path.join("fakes", name), "#!/bin/bash\n" + body + "\n")
            os.chmod(os.path.join(self.tree, "fakes", name), 0o755)
        self.write("CMakeLists.txt", "project(x)\n")
        self.write("dpkg", "")
        self.env = dict(os.environ, PATH=os.path.join(self.tree, "fakes") + os.pathsep + os.environ["PATH"],
                        TREE=self.tree, CALLS=os.path.join(self.tree, "calls"))
        # The choice ./halcyon test made for this machine must not decide the fake machine's.
        for name in ("HALCYON_WINDOWS_BUILD", "HALCYON_NO_WINE32", "HALCYON_WINDOWS_BUILD_NOTE"):
            self.env.pop(name, None)
        self.machine(runs_32bit_code=True)

    def write(self, name, text):
        with open(os.path.join(self.tree, name), "w") as f:
            f.write(text)

    def read(self, name):
        try:
            with open(os.path.join(self.tree, name)) as f:
                return f.read()
        except FileNotFoundError:
            return None

    def machine(self, runs_32bit_code):
        """The probe _common.sh runs: the exit status of an i386 program that ran, or not."""
        os.makedirs(os.path.join(self.tree, "build", "machine"), exist_ok=True)
        self.write("build/machine/i386-exit-probe", "#!/bin/sh\nexit %d\n" % (42 if runs_32bit_code else 1))
        os.chmod(os.path.join(self.tree, "build", "machine", "i386-exit-probe"), 0o755)

    def bash(self, script, **env):
        """The script's output after sourcing _common.sh, and the fakes' calls it made."""
        status, out, _, calls = self.run_bash(script, **env)
        return status, out.split(), calls

    def run_bash(self, script, **env):
        open(self.env["CALLS"], "w").close()
        result = subprocess.run(["bash", "-c", 'set -euo pipefail; source "$TREE/scripts/_common.sh"; ' + script],
                                env=dict(self.env, **env), capture_output=True, text=True)
        return result.returncode, result.stdout, result.stderr, self.read("calls").splitlines()

    def package_set(self, *names):
        return self.bash('for set in %s; do a="packages_$set[@]"; printf "%%s\\n" "${!a}"; done' % " ".join(names))[1]

    def set_installed(self, packages):
        self.write("dpkg", "".join("ii  %s %s\n" % (p.split(":")[0], (p + ":amd64").split(":")[1]) for p in packages))

    def installed(self):
        return [line.split()[1] + ("" if line.split()[2] == "amd64" else ":" + line.split()[2])
                for line in self.read("dpkg").splitlines()]

    def test_the_clock_reads_alike_in_every_locale(self):
        """bench's timings: microseconds whatever the locale's decimal separator."""
        locales = os.path.join(self.tree, "locales")
        os.makedirs(locales)
        made = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", os.path.join(locales, "de_DE.UTF-8")],
                              capture_output=True) if shutil.which("localedef") else None
        if made is None or made.returncode not in (0, 1) or not os.path.isdir(os.path.join(locales, "de_DE.UTF-8")):
            self.skipTest("no de_DE locale can be made here")
        for locale in ("C", "de_DE.UTF-8"):
            status, out, _ = self.bash("microseconds; a=$now_us; sleep 0.01; microseconds; echo $a $now_us",
                                       LOCPATH=locales, LC_ALL=locale)
            self.assertEqual(status, 0, locale)
            self.assertTrue(all(v.isdigit() and len(v) >= 16 for v in out), (locale, out))
            self.assertTrue(9000 <= int(out[1]) - int(out[0]) < 1000000, (locale, out))

    def test_missing_packages_come_from_one_query(self):
        self.write("dpkg", "ii  a amd64\nun  b amd64\nii  c i386\nii  d amd64\nrc  e amd64\nii  f all\n")
        status, missing, calls = self.bash("query_installed_packages a b c:i386 d:i386 e f g; "
                                           "not_installed missing a b c:i386 d:i386 e f g; echo ${missing[@]}")
        # b is known but not installed, d only for another architecture, e removed, g unknown.
        self.assertEqual((status, missing, calls), (0, ["b", "d:i386", "e", "g"], ["dpkg-query"]))
        # A prepared command's check: one query, no set-up, nothing printed.
        self.set_installed(self.package_set("native", "wine", "all"))
        for need in ("native", "wine", "all"):
            self.assertEqual(self.bash("ensure_setup %s" % need), (0, [], ["dpkg-query"]), need)

    def test_setup_by_need_and_what_apt_cannot_do(self):
        native, wine, everything = (self.package_set("native"), self.package_set("native", "wine"),
                                    self.package_set("native", "wine", "all"))
        wine32 = self.package_set("32bit")
        log = os.path.join(self.tree, "build", "setup-apt.log")
        # what, the command, its environment, the exit status, what stderr says, what is installed
        # afterwards and whether the i386 architecture is added.
        cases = (
            ("everything", "bash $TREE/scripts/setup.sh", {}, 0, [], everything + wine32, True),
            ("the native set", "bash $TREE/scripts/setup.sh native", {}, 0, [], native, False),
            ("the demo on a machine with no Wine", "bash $TREE/scripts/demo.sh", {}, None, [], native, False),
            ("a list update that fails partly", "ensure_setup wine", {"FAKE_UPDATE": "partial"}, 0,
             ["setup: warning: apt-get update could not fetch every package list (http://deb.example/debian-security/"
              "dists/bookworm-security/main/binary-i386/Packages.xz: File has unexpected size (25 != 26). "
              "Mirror sync in progress?); going on with the lists it has."], wine + wine32, True),
            ("a list update that fails wholly", "bash $TREE/scripts/setup.sh", {"FAKE_UPDATE": "none"}, 1,
             ["setup: the package archive could not be reached (apt-get update failed); check the network "
              "connection or the apt sources, then run './halcyon setup' again."], [], False),
            ("uninstallable i386 packages", "bash $TREE/scripts/setup.sh", {"FAKE_REFUSE": "*:i386"}, 0,
             ["setup: 32-bit Wine could not be installed (apt-get could not install wine32:i386: Depends: "
              "wine32-data (= 2) but 1 is to be installed (Unable to correct problems, you have held broken "
              "packages.)); the i386 architecture added for it was removed again; commands that need Wine use the "
              "64-bit Windows build under 64-bit Wine, and './halcyon setup' tries again (full log: %s)." % log],
             everything, False),
            ("one uninstallable native package", "ensure_setup native", {"FAKE_REFUSE": "libsdl2-dev"}, 1,
             ["setup: apt-get could not install libsdl2-dev: Depends: libsdl2-dev-data (= 2) but 1 is to be "
              "installed (Unable to correct problems, you have held broken packages.) (full log: %s); fix that, "
              "then run './halcyon setup native' again." % log], [], False),
        )
        for what, command, env, status, errors, installed, i386 in cases:
            with self.subTest(what):
                self.write("dpkg", "")
                self.write("foreign", "")
                got_status, _, stderr, calls = self.run_bash(command, **env)
                if status is not None:
                    self.assertEqual(got_status, status, stderr)
                self.assertEqual([line for line in stderr.splitlines() if line.startswith("setup:")], errors)
                self.assertEqual(sorted(self.installed()), sorted(installed))
                self.assertEqual(self.read("foreign").split(), ["i386"] if i386 else [])
                self.assertIsNone(self.read("build/setup-added-i386"))
                if "wholly" in what:
                    self.assertFalse([c for c in calls if c.startswith("apt-get install")])
        # What the demo builds on the native set alone: the release build without the tests.
        shutil.rmtree(os.path.join(self.tree, "build", "release"))
        configures = [c for c in self.run_bash("bash $TREE/scripts/demo.sh")[3] if c.startswith("configure")]
        self.assertEqual(len(configures), 1)
        self.assertIn("-DHALCYON_TESTS=OFF", configures[0])
        # Set up twice: nothing to do.
        self.set_installed(everything + wine32)
        self.assertEqual(self.run_bash("bash $TREE/scripts/setup.sh all")[1].strip(),
                         "setup: every package is already installed.")
        # No 32-bit code here: no i386 architecture, no 32-bit Wine, nothing more to install.
        self.machine(runs_32bit_code=False)
        self.assertEqual(self.run_bash("bash $TREE/scripts/setup.sh")[3], ["dpkg-query"])

    def choice(self, ensure="ensure_setup wine", **env):
        """The Windows build a command chooses on this machine, which runs 32-bit code, from what
        its set-up check hands the choice; and the fakes' calls of the check."""
        status, _, stderr, calls = self.run_bash(ensure + '; printf "%s" "$wine32_reason" >"$TREE/reason"', **env)
        self.assertEqual(status, 0, stderr)
        build, reason = _windows_build.choose({_windows_build.NO_WINE32_VARIABLE: self.read("reason")},
                                              lambda: (True, "runs"))
        return build.name, reason, calls

    def test_without_32bit_wine_the_64bit_build_runs_until_a_setup_installs_it(self):
        self.write("foreign", "")
        build, reason, _ = self.choice(FAKE_REFUSE="wine32:i386")
        self.assertEqual(build, "x86_64")
        self.assertIn("32-bit Wine could not be installed (apt-get could not install wine32:i386: Depends:", reason)
        self.assertTrue(reason.endswith("'./halcyon setup' tries again"), reason)
        # The next command sets up nothing, and chooses the same with the same reason.
        self.assertEqual(self.choice(), ("x86_64", reason, ["dpkg-query"]))
        # 32-bit Wine installed by a later set-up: the i686 build again, and no record left.
        self.assertEqual(self.run_bash("bash $TREE/scripts/setup.sh")[0], 0)
        self.assertEqual(self.choice()[:2], ("i686", None))
        self.assertIsNone(self.read("build/setup-32bit-wine.failed"))
        self.assertEqual(self.read("foreign").split(), ["i386"])

    def test_a_video_command_leaves_the_64bit_note_to_its_run(self):
        # So that a refusal before the run starts stays one line.
        shutil.copy(os.path.join(SCRIPTS, "_windows_build.py"), os.path.join(self.tree, "scripts"))
        self.write("foreign", "")
        for call, in_bash in (("choose_windows_build", True), ("choose_windows_build later", False)):
            status, out, err, _ = self.run_bash('ensure_setup wine >/dev/null; %s; echo "${HALCYON_WINDOWS_BUILD_NOTE-}"'
                                                % call, FAKE_REFUSE="wine32:i386")
            self.assertEqual(status, 0, err)
            self.assertEqual("using the 64-bit Windows build" in err, in_bash, (call, err))
            self.assertEqual(out.strip().startswith("using the 64-bit Windows build and 64-bit Wine: 32-bit Wine "),
                             not in_bash, (call, out))

    def test_an_interrupted_setup_leaves_no_half_added_architecture(self):
        self.write("foreign", "")
        setup = subprocess.Popen(["bash", os.path.join(self.tree, "scripts", "setup.sh"), "wine"],
                                 env=dict(self.env, FAKE_HANG="wine32:i386"), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True, start_new_session=True)
        deadline = time.monotonic() + 20
        while "wine32:i386" not in (self.read("calls") or "") and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.read("foreign").split(), ["i386"])
        os.killpg(setup.pid, signal.SIGTERM)
        _, stderr = setup.communicate(timeout=20)
        self.assertNotEqual(setup.returncode, 0)
        self.assertIn("setup: stopped before 32-bit Wine was installed; the i386 architecture added for it was "
                      "removed again.", stderr)
        self.assertEqual((self.read("foreign").split(), self.read("build/setup-added-i386")), ([], None))
        # Killed outright instead: the next command that wants Wine finishes the set-up.
        self.write("foreign", "i386\n")
        self.write("build/setup-added-i386", "")
        status, _, calls = self.bash("ensure_setup wine", FAKE_REFUSE="*:i386")
        self.assertEqual(status, 0)
        self.assertIn("dpkg --remove-architecture i386", calls)
        self.assertEqual((self.read("foreign").split(), self.read("build/setup-added-i386")), ([], None))
        self.assertEqual(self.bash("ensure_setup wine")[2], ["dpkg-query"])

    def test_cmake_configures_only_when_its_arguments_files_or_version_changed(self):
        build = os.path.join(self.tree, "build", "x")
        steps = [("the first build", None, {}, True),
                 ("nothing changed", None, {}, False),
                 ("other arguments", None, {"ARGUMENTS": "-DB=1"}, True),
                 ("the same again", None, {"ARGUMENTS": "-DB=1"}, False),
                 ("a CMake file changed", lambda: self.write("CMakeLists.txt", "project(y)\n"), {"ARGUMENTS": "-DB=1"}, True),
                 ("a new CMake file", lambda: self.write("extra.cmake", "\n"), {"ARGUMENTS": "-DB=1"}, True),
                 ("another CMake", lambda: self.write("fakes/cmake", "#!/bin/sh\n# 3.30\n" + FAKES["cmake"] + "\n"),
                  {"ARGUMENTS": "-DB=1"}, True),
                 ("the cache gone", lambda: os.remove(os.path.join(build, "CMakeCache.txt")), {"ARGUMENTS": "-DB=1"},
                  True)]
        for what, change, env, configures in steps:
            if change:
                change()
            env = dict({"ARGUMENTS": "-DA=1"}, **env)
            status, _, calls = self.bash('configure_and_build "$TREE/build/x" $ARGUMENTS -- target', **env)
            self.assertEqual((status, calls[-1]), (0, "ninja -j %d target" % os.cpu_count()), what)
            self.assertEqual(calls[:-1], ["configure -S %s -B %s -G Ninja %s" % (self.tree, build, env["ARGUMENTS"])]
                             if configures else [], what)
        # A configure that fails leaves no stamp: the next build configures again.
        self.assertEqual(self.bash('configure_and_build "$TREE/build/x" -DC=1', FAKE_CMAKE_FAILS="1")[0], 1)
        self.assertEqual(len(self.bash('configure_and_build "$TREE/build/x" -DB=1')[2]), 2)


if __name__ == "__main__":
    unittest.main()
