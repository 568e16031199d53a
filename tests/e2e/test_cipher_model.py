"""Keeps the password cipher's embedded data in step with the scripts that derive it: the
independent Python model's vectors inside the C++ unit test, and the generated pi tables."""
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MODEL = os.path.join(ROOT, "tests", "server", "accounts", "cipher_model.py")
UNIT_TEST = os.path.join(ROOT, "tests", "server", "accounts", "PasswordCipher_test.cpp")
GENERATOR = os.path.join(ROOT, "server", "accounts", "tools", "gen_blowfish_tables.py")
TABLES = os.path.join(ROOT, "server", "accounts", "BlowfishTables.cpp")


def run(*args):
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, timeout=120)


class CipherModelTest(unittest.TestCase):
    def test_model_vectors_are_the_ones_in_the_unit_test(self):
        proc = run(MODEL, "--cpp")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        with open(UNIT_TEST, encoding="utf-8") as f:
            source = f.read()
        m = re.search(r"// model-vectors-begin\n[^\n]*\{\n(.*?)\};\n// model-vectors-end",
                      source, re.S)
        self.assertIsNotNone(m, "vector block not found in the unit test")
        self.assertEqual(m.group(1), proc.stdout)
        self.assertGreaterEqual(proc.stdout.count("},"), 10)

    def test_generated_tables_are_current(self):
        proc = run(GENERATOR)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        with open(TABLES, encoding="utf-8") as f:
            self.assertEqual(f.read(), proc.stdout)


if __name__ == "__main__":
    unittest.main()
