"""The operator's reference against the code: every configuration key the parser knows has its
entry in doc/orvex.conf.5.md (and no entry names a key it does not know), the SITE command table
in doc/site-commands.md is what the command table and the help files make today, and every man
page passes mandoc's linter."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ.get("ORVEX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
DOCGEN = os.environ.get("ORVEX_DOCGEN", "orvex-docgen")
DOC = os.path.join(SOURCE, "doc")
KEY_HEADING = re.compile(r"^### `([a-z0-9_]+)`\s*$", re.M)


def docgen(*args):
    return subprocess.run([DOCGEN, *args], check=True, capture_output=True, text=True,
                          timeout=60).stdout


class Reference(unittest.TestCase):
    def test_every_key_has_an_entry(self):
        parser_keys = docgen("keys").split()
        self.assertIn("rootpath", parser_keys)
        with open(os.path.join(DOC, "orvex.conf.5.md"), encoding="utf-8") as f:
            documented = KEY_HEADING.findall(f.read())
        self.assertEqual(len(documented), len(set(documented)), "a key has two entries")
        missing = sorted(set(parser_keys) - set(documented))
        self.assertFalse(missing, "no entry in doc/orvex.conf.5.md for: %s (add a '### `key`' "
                         "section under its topic)" % ", ".join(missing))
        unknown = sorted(set(documented) - set(parser_keys))
        self.assertFalse(unknown, "documented but unknown to the parser: %s" % ", ".join(unknown))

    def test_site_command_table_is_current(self):
        table = docgen("site-commands", os.path.join(SOURCE, "dist", "ftp-data", "help"))
        with open(os.path.join(DOC, "site-commands.md"), encoding="utf-8") as f:
            text = f.read()
        start = text.index("| command |")
        self.assertEqual(text[start:], table,
                         "doc/site-commands.md is out of date: run `make docs`")
        for row in table.splitlines()[2:]:
            name, who, purpose = [c.strip() for c in re.split(r"(?<!\\)\|", row.strip("|"))]
            self.assertTrue(who and purpose, "a command without a help file: %s" % name)

    @unittest.skipUnless(shutil.which("mandoc"), "mandoc is not installed (scripts/install-deps)")
    def test_man_pages_pass_mandoc_lint(self):
        pages = sorted(p for p in os.listdir(DOC) if re.fullmatch(r".+\.[0-9]\.md", p))
        self.assertGreaterEqual(len(pages), 5, pages)
        with tempfile.TemporaryDirectory() as tmp:
            made = []
            for page in pages:
                out = os.path.join(tmp, page[:-3])
                with open(out, "w", encoding="utf-8") as f:
                    subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "md2man"),
                                    os.path.join(DOC, page), "0.0.0"], check=True, stdout=f)
                made.append(out)
            lint = subprocess.run(["mandoc", "-T", "lint", *made], capture_output=True,
                                  text=True, timeout=60)
            self.assertEqual(lint.stdout + lint.stderr, "")
            self.assertEqual(lint.returncode, 0)


if __name__ == "__main__":
    unittest.main()
