"""What every ./halcyon command does first (scripts/_common.sh), over fake dpkg-query, cmake and ninja
in a tree of its own: one query for the package list, and CMake configured only when something
it reads changed."""

import os
import shutil
import subprocess
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts")

FAKES = {
    # Answers from the file "dpkg" whatever is asked, as dpkg-query -W -f '${db:Status-Abbrev} ...' would.
    "dpkg-query": 'echo dpkg-query >>"$CALLS"; cat "$TREE/dpkg"',
    "cmake": 'echo "configure $*" >>"$CALLS"; [ -z "$FAKE_CMAKE_FAILS" ] || exit 1\n'
             'while [ "$1" != -B ]; do shift; done; mkdir -p "$2"; touch "$2/CMakeCache.txt"',
    "ninja": 'echo "ninja $*" >>"$CALLS"',
}


class CommonTest(unittest.TestCase):
    def setUp(self):
        self.tree = tempfile.mkdtemp(prefix="halcyon-common-test-")
        self.addCleanup(shutil.rmtree, self.tree, True)
        os.makedirs(os.path.join(self.tree, "scripts"))
        shutil.copy(os.path.join(SCRIPTS, "_common.sh"), os.path.join(self.tree, "scripts"))
        os.makedirs(os.path.join(self.tree, "fakes"))
        for name, body in FAKES.items():
            self.write(os.path.join("fakes", name), "#!/bin/sh\n" + body + "\n")
            os.chmod(os.path.join(self.tree, "fakes", name), 0o755)
        self.write("CMakeLists.txt", "project(x)\n")
        self.env = dict(os.environ, PATH=os.path.join(self.tree, "fakes") + os.pathsep + os.environ["PATH"],
                        TREE=self.tree, CALLS=os.path.join(self.tree, "calls"))

    def write(self, name, text):
        with open(os.path.join(self.tree, name), "w") as f:
            f.write(text)

    def bash(self, script, **env):
        """The script's output after sourcing _common.sh, and the fakes' calls it made."""
        open(self.env["CALLS"], "w").close()
        result = subprocess.run(["bash", "-c", 'set -euo pipefail; source "$TREE/scripts/_common.sh"; ' + script],
                                env=dict(self.env, **env), capture_output=True, text=True)
        with open(self.env["CALLS"]) as f:
            return result.returncode, result.stdout.split(), f.read().splitlines()

    def test_missing_packages_come_from_one_query(self):
        self.write("dpkg", "ii  a amd64\nun  b amd64\nii  c i386\nii  d amd64\nrc  e amd64\nii  f all\n")
        status, missing, calls = self.bash("packages=(a b c:i386 d:i386 e f g); missing_packages")
        # b is known but not installed, d only for another architecture, e removed, g unknown.
        self.assertEqual((status, missing, calls), (0, ["b", "d:i386", "e", "g"], ["dpkg-query"]))
        self.assertEqual(self.bash("packages=(a c:i386 f); setup_is_complete && echo complete")[:2],
                         (0, ["complete"]))
        self.assertEqual(self.bash("packages=(a b); setup_is_complete || echo incomplete")[:2], (0, ["incomplete"]))

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
