"""End-to-end checks of the trawlex command on real disk images.

Run as: cli_test.py TRAWLEX_BINARY REPO_ROOT
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TRAWLEX = sys.argv[1]
ROOT = sys.argv[2]


def run(*args):
    return subprocess.run([TRAWLEX, *args], capture_output=True, text=True, timeout=600)


class SampleImage(unittest.TestCase):
    """The sample disk: real files written to a FAT disk and deleted again."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        subprocess.run(["bash", os.path.join(ROOT, "scripts/make_sample_image.sh"), cls.dir],
                       check=True, capture_output=True)
        cls.image = os.path.join(cls.dir, "sample.img")
        with open(os.path.join(cls.dir, "manifest.tsv")) as f:
            cls.manifest = [line.rstrip("\n").split("\t") for line in f if line.strip()]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_recover_gives_back_every_planted_file(self):
        out = os.path.join(self.dir, "recovered")
        result = run("recover", self.image, "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        saved = {name: open(os.path.join(out, name), "rb").read() for name in os.listdir(out)}
        self.assertGreaterEqual(len({tag for _, tag, _ in self.manifest}), 15)
        for name, tag, _ in self.manifest:
            if tag == "-":
                continue  # found only with real ends
            with open(os.path.join(self.dir, "files", name), "rb") as f:
                original = f.read()
            candidates = [data for saved_name, data in saved.items()
                          if saved_name.endswith("." + tag) and data[:min(512, len(original))] == original[:512]]
            self.assertTrue(candidates, f"{name} ({tag}) was not recovered")
            data = candidates[0]
            # The saved file holds the original from its first byte on; a file with a
            # later file start inside it (a tar member) is cut there.
            common = min(len(data), len(original))
            self.assertEqual(data[:common], original[:common], name)
            self.assertIn(f"saved FILE_", result.stdout)

    def test_real_ends_give_back_every_file_byte_for_byte_with_a_report(self):
        import hashlib
        import xml.etree.ElementTree as ET
        out = os.path.join(self.dir, "real-ends")
        result = run("recover", self.image, "-o", out, "--real-ends")
        self.assertEqual(result.returncode, 0, result.stderr)
        saved = {}
        for n in os.listdir(out):
            if n != "report.xml":
                with open(os.path.join(out, n), "rb") as f:
                    saved[n] = hashlib.sha256(f.read()).hexdigest()
        for name, _, tag in self.manifest:
            self.assertTrue(any(n.endswith("." + tag) for n in saved), f"no {tag} saved")
            with open(os.path.join(self.dir, "files", name), "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            self.assertIn(digest, saved.values(), f"{name} ({tag}) did not come back byte for byte")
        # The report names every saved file with the hash of its bytes.
        entries = {}
        for node in ET.parse(os.path.join(out, "report.xml")).getroot().iter():
            if node.tag.endswith("fileobject"):
                fields = {child.tag.split("}")[-1]: child.text for child in node}
                entries[fields["filename"]] = fields["hashdigest"]
        self.assertEqual(entries, saved)
        quiet = os.path.join(self.dir, "no-report")
        self.assertEqual(run("recover", self.image, "-o", quiet, "--no-report").returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(quiet, "report.xml")))

    def test_scan_formats_agree(self):
        tsv = run("scan", self.image, "--format", "tsv")
        self.assertEqual(tsv.returncode, 0, tsv.stderr)
        lines = tsv.stdout.splitlines()
        self.assertEqual(lines[0], "lba\tsize\ttype\tname")
        rows = [line.split("\t") for line in lines[1:]]
        lbas = [int(r[0]) for r in rows]
        self.assertEqual(lbas, sorted(lbas))
        for lba, size, tag, name in rows:
            self.assertEqual(name, f"FILE_{lba}.{tag}")
        doc = json.loads(run("scan", self.image, "--format", "json").stdout)
        self.assertEqual([(f["lba"], f["size"], f["type"], f["name"]) for f in doc["files"]],
                         [(int(a), int(b), c, d) for a, b, c, d in rows])
        self.assertEqual(sum(doc["counts"].values()), len(rows))
        self.assertEqual(doc["sectors"], os.path.getsize(self.image) // 512)
        self.assertEqual(doc["unreadable"], 0)
        table = run("scan", self.image)
        self.assertIn("JPG (2)", table.stdout)
        self.assertRegex(table.stdout, r"sectors examined: 65536 of 65536, unreadable: 0, files found: \d+")

    def test_forensic_images_scan_like_the_raw_image(self):
        raw = run("scan", self.image, "--format", "tsv")
        self.assertEqual(raw.returncode, 0, raw.stderr)
        forensic = os.path.join(self.dir, "forensic")
        os.mkdir(forensic)
        # A compressed Expert Witness image, and the raw image in pieces.
        subprocess.run(["ewfacquire", "-u", "-q", "-c", "fast", "-t",
                        os.path.join(forensic, "sample"), self.image], check=True,
                       capture_output=True)
        subprocess.run(["split", "-d", "-a", "3", "--numeric-suffixes=1", "-b", "10000000",
                        self.image, os.path.join(forensic, "sample.img.")], check=True)
        self.assertTrue(os.path.exists(os.path.join(forensic, "sample.img.004")))
        for source in ("sample.E01", "sample.img.001"):
            path = os.path.join(forensic, source)
            scanned = run("scan", path, "--format", "tsv")
            self.assertEqual((scanned.returncode, scanned.stdout), (0, raw.stdout), source)
            info = run("info", path)
            self.assertIn("65536", info.stdout, source)
            dump = run("dump", path, "--lba", "0")
            self.assertEqual(dump.stdout, run("dump", self.image, "--lba", "0").stdout, source)
        out = os.path.join(forensic, "recovered")
        self.assertEqual(run("recover", os.path.join(forensic, "sample.E01"), "-o", out,
                             "--real-ends").returncode, 0)
        self.assertGreaterEqual(len(os.listdir(out)), len(self.manifest))

    def test_a_damaged_expert_witness_chunk_reads_as_unreadable_sectors(self):
        base = os.path.join(self.dir, "damaged")
        subprocess.run(["ewfacquire", "-u", "-q", "-c", "none", "-b", "64", "-t", base,
                        self.image], check=True, capture_output=True)
        # A sector of a file's start: its bytes stand nowhere else in the image.
        lba = int(run("scan", self.image, "--format", "tsv").stdout.splitlines()[1].split("\t")[0])
        with open(self.image, "rb") as f:
            f.seek(lba * 512)
            sector = f.read(512)
        with open(base + ".E01", "r+b") as f:
            data = f.read()
            at = data.find(sector)
            self.assertGreater(at, 0)
            f.seek(at + 100)
            f.write(bytes([data[at + 100] ^ 0xFF]))
        doc = json.loads(run("scan", base + ".E01", "--format", "json").stdout)
        self.assertEqual((doc["end"], doc["unreadable"]), ("completed", 64))
        self.assertEqual(doc["sectors"], 65536)

    def test_free_space_joins_deleted_files_left_in_pieces(self):
        """The sample's files written into the holes between files in use of a FAT32, an ext4
        and an NTFS disk, then deleted: the free-space search gives them back byte for byte where
        the whole-disk search cannot, once each, under the names the file system still gives
        them, and reports their pieces and where they came from."""
        import hashlib
        import xml.etree.ElementTree as ET
        script = os.path.join(ROOT, "tests/support/make_fragmented_fs.sh")
        digest = lambda path: hashlib.sha256(open(path, "rb").read()).hexdigest()
        for kind, least in (("fat32", 16), ("ext4", 12), ("ntfs", 16)):
            with self.subTest(kind=kind):
                work = os.path.join(self.dir, "fragmented-" + kind)
                image, files = os.path.join(work, "disk.img"), os.path.join(work, "files")
                made = subprocess.run(["bash", script, kind, image, files,
                                       os.path.join(self.dir, "files")], capture_output=True)
                if made.returncode == 77:  # this machine cannot make that kind
                    self.skipTest(made.stderr.decode().strip())
                self.assertEqual(made.returncode, 0, made.stderr[-400:])
                originals = {digest(os.path.join(files, n)): n for n in os.listdir(files)}
                exact, saved = {}, {}
                for mode in ("whole", "free"):
                    out = os.path.join(work, mode)
                    extra = ["--free-space"] if mode == "free" else []
                    result = run("recover", image, "-o", out, "--real-ends", *extra)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    saved[mode] = [(os.path.relpath(os.path.join(d, n), out),
                                    digest(os.path.join(d, n)))
                                   for d, _, names in os.walk(out) for n in names
                                   if n != "report.xml"]
                    exact[mode] = len(set(originals) & {h for _, h in saved[mode]})
                self.assertIn(f"trawlex recover: {kind[:3]}", result.stderr)
                self.assertGreaterEqual(exact["free"], least)
                self.assertGreater(exact["free"], exact["whole"])
                # Saved by their names (FAT keeps no first letter of a short deleted name).
                by_path = dict(saved["free"])
                self.assertGreaterEqual(
                    sum(h in (by_path.get(f"undeleted/{kind}/{n}"),
                              by_path.get(f"undeleted/{kind}/_{n[1:]}"))
                        for h, n in originals.items()), least)
                # A file in pieces lists each piece on the disk, and where it came from.
                report = ET.parse(os.path.join(work, "free", "report.xml")).getroot()
                ns = {"d": report.tag.split("}")[0][1:], "t": "urn:x-ostrel-trawlex:dfxml:1"}
                pieces = [f for f in report.iter("{%s}fileobject" % ns["d"])
                          if len(f.findall(".//d:byte_run", ns)) > 1
                          and f.find("t:source", ns).text == "undeleted"]
                self.assertTrue(pieces)
                self.assertEqual(pieces[0].find("t:source", ns).get("file_system"), kind)
                self.assertEqual(pieces[0].find("t:saved_as", ns).text.split("/")[-1],
                                 pieces[0].find("d:filename", ns).text)
                # A found file that is the same bytes as an undeleted one is not saved again.
                starts = {}
                for f in report.iter("{%s}fileobject" % ns["d"]):
                    at = f.find(".//d:byte_run", ns).get("img_offset")
                    starts.setdefault(f.find("t:source", ns).text, set()).add(at)
                self.assertFalse(starts["undeleted"] & starts.get("carved", set()))

    def test_recover_chosen_types_with_a_limit(self):
        out = os.path.join(self.dir, "only-pictures")
        result = run("recover", self.image, "-o", out, "--types", "JPG,TIF", "--max-mb", "1")
        names = sorted(n for n in os.listdir(out) if n != "report.xml")
        self.assertTrue(names and all(n.endswith((".JPG", ".TIF")) for n in names), names)
        self.assertTrue(all(os.path.getsize(os.path.join(out, n)) <= 1048576 for n in names))


class Interrupt(unittest.TestCase):
    def test_ctrl_c_stops_the_scan_and_still_prints_what_was_found(self):
        import signal
        import time
        with tempfile.TemporaryDirectory() as d:
            image = os.path.join(d, "big.img")
            with open(image, "wb") as f:
                f.write(b"\xff\xd8\xff\xe0" + bytes(508))
                f.truncate(64 << 30)  # 64 GiB of empty sectors: still scanning when stopped
            proc = subprocess.Popen([TRAWLEX, "scan", image], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
            time.sleep(1.0)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=120)
            self.assertEqual(proc.returncode, 0, err)
            self.assertIn("stopped at sector", err)
            self.assertIn("JPG (1)", out)
            self.assertRegex(out, r"sectors examined: \d+ of 134217728")


class BadInput(unittest.TestCase):
    def test_usage_errors_exit_1(self):
        self.assertEqual(run().returncode, 1)
        self.assertEqual(run("frobnicate").returncode, 1)
        self.assertEqual(run("scan").returncode, 1)
        self.assertEqual(run("scan", "x.img", "--format", "xml").returncode, 1)
        self.assertEqual(run("recover", "x.img").returncode, 1)
        bad = run("recover", "x.img", "-o", "/tmp/x", "--types", "JPEG")
        self.assertEqual(bad.returncode, 1)
        self.assertIn("unknown file type 'JPEG'", bad.stderr)
        today = run("recover", "x.img", "-o", "/tmp/x", "--types", "JPG,DOCX")
        self.assertEqual(today.returncode, 1)
        self.assertIn("'DOCX' is found only with --real-ends", today.stderr)
        self.assertIn("'many' is not a valid integer value",
                      run("recover", "x.img", "-o", "/tmp/x", "--max-mb", "many").stderr)

    def test_unreadable_sources_exit_2_with_the_reason(self):
        result = run("scan", "/nonexistent/disk.img")
        self.assertEqual(result.returncode, 2)
        self.assertIn("No such file or directory", result.stderr)
        self.assertEqual(len(result.stderr.splitlines()), 1)
        result = run("scan", "--drive", "99")
        self.assertEqual(result.returncode, 2)
        self.assertIn("drive 99 does not exist", result.stderr)
        with tempfile.TemporaryDirectory() as d:
            self.assertEqual(run("info", d).returncode, 2)

    def test_an_unwritable_target_exits_3(self):
        with tempfile.TemporaryDirectory() as d:
            image = os.path.join(d, "disk.img")
            with open(image, "wb") as f:
                f.write(b"\xff\xd8\xff\xe0" + bytes(4092))
            blocker = os.path.join(d, "file")
            open(blocker, "w").close()
            result = run("recover", image, "-o", os.path.join(blocker, "sub"))
            self.assertEqual(result.returncode, 3, result.stderr)

    def test_each_command_has_its_help_and_dash_paths_follow_a_double_dash(self):
        for command in ("types", "drives", "info", "scan", "recover", "dump"):
            result = run(command, "--help")
            self.assertEqual(result.returncode, 0, command)
            self.assertIn(f"Usage: trawlex {command}", result.stdout)
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "-disk.img"), "wb") as f:
                f.write(b"\xff\xd8\xff\xe0" + bytes(4092))
            plain = subprocess.run([TRAWLEX, "scan", "--format", "tsv", "--", "-disk.img"],
                                   capture_output=True, text=True, cwd=d)
            self.assertEqual(plain.returncode, 0, plain.stderr)
            self.assertIn("FILE_0.JPG", plain.stdout)
            self.assertEqual(subprocess.run([TRAWLEX, "scan", "-disk.img"], capture_output=True,
                                            cwd=d).returncode, 1)

    def test_the_progress_line_shows_percent_speed_time_taken_and_left(self):
        import pty
        with tempfile.TemporaryDirectory() as d:
            image = os.path.join(d, "disk.img")
            with open(image, "wb") as f:
                f.truncate(256 << 20)
            master, slave = pty.openpty()
            result = subprocess.run([TRAWLEX, "scan", image], stdout=subprocess.PIPE,
                                    stderr=slave, timeout=600)
            os.close(slave)
            said = b""
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                said += chunk
            os.close(master)
            self.assertEqual(result.returncode, 0)
            self.assertRegex(said.decode(), r"\d+\.\d%\s+[\d.]+ MB/s\s+\d+:\d\d elapsed\s+(\d+:\d\d|--:--) left")

    def test_types_lists_the_catalogue(self):
        lines = run("types").stdout.splitlines()
        # The 45 kinds every scan looks for, then those looked for with real ends.
        self.assertEqual(lines[45], "with --real-ends also:")
        self.assertTrue(lines[10].split()[1] == "EPSorPS")
        self.assertIn("DOCX", [line.split()[1] for line in lines[46:]])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
