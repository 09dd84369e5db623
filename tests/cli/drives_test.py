"""End-to-end checks of `trawlex drives` on generated disk images.

Run as: drives_test.py TRAWLEX_BINARY
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TRAWLEX = sys.argv[1]


def run(*args):
    return subprocess.run([TRAWLEX, "drives", *args], capture_output=True, text=True,
                          timeout=120, env={**os.environ, "LC_ALL": "C"})


class Drives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.image = os.path.join(cls.tmp.name, "camera card.img")
        with open(cls.image, "wb") as f:
            f.truncate(1999999 * 512)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def image_row(self, rows):
        return [r for r in rows if r["path"] == self.image][0]

    def test_json_lists_a_given_image_like_a_disk(self):
        result = run("--details", "--format", "json", self.image)
        self.assertEqual(result.returncode, 0, result.stderr)
        listing = json.loads(result.stdout)
        self.assertTrue(listing["complete"])
        row = self.image_row(listing["drives"])
        self.assertEqual(row["caption"], "[Fixed Disk] camera card.img")
        self.assertEqual(row["sectors"], 1999999)
        self.assertTrue(row["readable"])
        self.assertEqual(row["details"], {
            "drive_type": "[Fixed Disk] ", "drive_model": "camera card.img",
            "physical_id": str(row["physical_id"]), "bytes_per_sector": "512",
            "capacity": "976.56 MB "})
        # Image rows follow the machine's disks.
        self.assertEqual(row["physical_id"], len(listing["drives"]) - 1)

    def test_table_and_tsv_agree(self):
        table = run("--details", self.image)
        tsv = run("--details", "--format", "tsv", self.image)
        self.assertEqual(table.returncode, 0, table.stderr)
        lines = tsv.stdout.splitlines()
        self.assertEqual(lines[0].split("\t"), [
            "physical_id", "caption", "drive_type", "drive_model", "bytes_per_sector",
            "capacity", "sectors", "path", "error"])
        last = lines[-1].split("\t")
        self.assertEqual(last[1], "[Fixed Disk] camera card.img")
        self.assertEqual(last[5:8], ["976.56 MB ", "1999999", self.image])
        self.assertIn(f"{last[0]}  [Fixed Disk] camera card.img\n", table.stdout)
        self.assertIn("    Capacity:         976.56 MB \n", table.stdout)
        plain = run("--format", "tsv", self.image).stdout.splitlines()
        self.assertEqual(plain[0], "physical_id\tcaption")
        self.assertEqual(plain[-1], f"{last[0]}\t[Fixed Disk] camera card.img")

    def test_bad_arguments(self):
        self.assertEqual(run("--format", "xml").returncode, 1)
        self.assertEqual(run("--format").returncode, 1)
        self.assertEqual(run("--verbose").returncode, 1)
        missing = run(os.path.join(self.tmp.name, "missing.img"))
        self.assertEqual(missing.returncode, 2)
        self.assertIn("cannot open: No such file or directory", missing.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
