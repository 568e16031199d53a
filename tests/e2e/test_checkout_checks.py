"""The checks the test run makes on the checkout itself, each tried on a scratch checkout: the
format check fails on a misformatted tracked file, and the after-tests check names a file the
tests left behind."""

import os
import shutil
import subprocess
import sys
import unittest

from harness import TempDirTestCase
from orvex_support import REPO

CHECK_FORMAT = os.path.join(REPO, "scripts", "check-format")
CHECKOUT_STATE = os.path.join(REPO, "tests", "support", "checkout_state.py")
FORMATTED = "int main() {\n    return 0;\n}\n"
MISFORMATTED = "int  main( ){return 0;}\n"


class ScratchCheckout(TempDirTestCase):
    def setUp(self):
        super().setUp()
        if not shutil.which("git"):
            self.skipTest("git is not installed")
        self.repo = os.path.join(self.tmp, "repo")
        os.makedirs(os.path.join(self.repo, "src"))
        shutil.copy(os.path.join(REPO, ".clang-format"), self.repo)
        self.write("src/good.cpp", FORMATTED)
        self.git("init", "-q")
        self.git("add", ".")

    def git(self, *args):
        subprocess.run(["git", "-C", self.repo, *args], check=True, capture_output=True,
                       timeout=60)

    def write(self, rel, text):
        with open(os.path.join(self.repo, rel), "w") as f:
            f.write(text)

    def run_tool(self, argv, env=None):
        return subprocess.run(argv, capture_output=True, text=True, timeout=120, env=env)


class FormatCheck(ScratchCheckout):
    def test_fails_on_a_misformatted_tracked_file(self):
        if not shutil.which("clang-format"):
            self.skipTest("clang-format is not installed")
        self.write("src/untracked.cpp", MISFORMATTED)  # not part of the checkout yet
        r = self.run_tool([CHECK_FORMAT, self.repo])
        self.assertEqual(r.returncode, 0, r.stdout)
        self.git("add", "src/untracked.cpp")
        self.write("src/bad.h", "#pragma once\nstruct  S{int a;};\n")
        self.git("add", "src/bad.h")
        r = self.run_tool([CHECK_FORMAT, self.repo])
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("not formatted: src/bad.h (clang-format -i src/bad.h)", r.stdout)
        self.assertIn("not formatted: src/untracked.cpp", r.stdout)
        self.assertNotIn("good.cpp", r.stdout)
        self.assertIn("2 file(s) not formatted", r.stdout)

    def test_is_skipped_without_clang_format(self):
        # A PATH that has git and nothing else.
        tools = os.path.join(self.tmp, "tools")
        os.makedirs(tools)
        os.symlink(shutil.which("git"), os.path.join(tools, "git"))
        r = self.run_tool([shutil.which("bash"), CHECK_FORMAT, self.repo],
                          env=dict(os.environ, PATH=tools))
        self.assertEqual((r.returncode, r.stdout),
                         (77, "clang-format is not installed: the format check is skipped\n"))


class CheckoutUnchanged(ScratchCheckout):
    def test_names_what_the_tests_left(self):
        state = os.path.join(self.tmp, "state.txt")
        self.write("work-in-progress.txt", "the developer's, before the tests\n")
        os.makedirs(os.path.join(self.repo, "build"))
        self.write("build/CMakeCache.txt", "a build folder in the checkout, ignored\n")
        self.write(".gitignore", "/build/\n")

        def check(action):
            return self.run_tool([sys.executable, CHECKOUT_STATE, action, self.repo, state])

        self.assertEqual(check("record").returncode, 0)
        self.write("build/written-by-a-test.log", "inside the ignored folder\n")
        self.assertEqual(check("compare").returncode, 0)
        self.write("ftpd.log", "x\n")
        self.write("src/good.cpp", MISFORMATTED)
        r = check("compare")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "the tests left these in the checkout:\n"
                                   "  ?? ftpd.log\n  AM src/good.cpp\n")
        os.remove(os.path.join(self.repo, "ftpd.log"))
        self.write("src/good.cpp", FORMATTED)
        self.assertEqual(check("compare").returncode, 0)

        # Not a checkout: the set-up still succeeds, the check is skipped.
        outside = os.path.join(self.tmp, "plain")
        os.makedirs(outside)
        self.assertEqual(self.run_tool([sys.executable, CHECKOUT_STATE, "record", outside,
                                        state]).returncode, 0)
        self.assertEqual(self.run_tool([sys.executable, CHECKOUT_STATE, "compare", outside,
                                        state]).returncode, 77)


if __name__ == "__main__":
    unittest.main()
