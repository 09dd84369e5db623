"""The command line never loses, fakes or hides: output errors, refused targets, end reasons.

Run as: save_test.py TRAWLEX_BINARY
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TRAWLEX = sys.argv[1]


def run(*args, **kw):
    return subprocess.run([TRAWLEX, *args], capture_output=True, timeout=600, **kw)


def make_image(path, size=4 << 20):
    """A JPEG start at sector 0 and a PNG start at 1 MiB among zeros."""
    with open(path, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0" + bytes(508))
        f.seek(1 << 20)
        f.write(b"\x89PNG\r\n\x1a\n" + bytes(504))
        f.truncate(size)


def is_root():
    return os.geteuid() == 0


class WithImage(unittest.TestCase):
    """A test with its own folder holding a disk image of planted files."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.image = os.path.join(self.dir, "disk.img")
        make_image(self.image)

    def tearDown(self):
        self.tmp.cleanup()


class Output(WithImage):
    def test_a_failed_write_of_stdout_exits_3(self):
        for fmt in ("table", "tsv", "json"):
            with open("/dev/full", "wb") as full:
                result = subprocess.run([TRAWLEX, "scan", self.image, "--format", fmt],
                                        stdout=full, stderr=subprocess.PIPE, text=True)
            self.assertEqual(result.returncode, 3, fmt)
            self.assertIn("No space left on device", result.stderr)

    def test_a_tsv_cut_by_a_full_file_system_exits_3(self):
        if not is_root():
            self.skipTest("mounting a small tmpfs needs root")
        mnt = os.path.join(self.dir, "small")
        os.mkdir(mnt)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mnt]).returncode != 0:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            # Thousands of starts: a TSV longer than the file system holds.
            big = os.path.join(self.dir, "many.img")
            with open(big, "wb") as f:
                for _ in range(40000):
                    f.write(b"\xff\xd8\xff\xe0" + bytes(508))
            with open(os.path.join(mnt, "out.tsv"), "wb") as out:
                result = subprocess.run([TRAWLEX, "scan", big, "--format", "tsv"], stdout=out,
                                        stderr=subprocess.PIPE, text=True)
            self.assertEqual(result.returncode, 3, result.stderr)
            self.assertIn("No space left on device", result.stderr)
        finally:
            subprocess.run(["umount", mnt])

    def test_json_names_how_the_scan_ended_and_real_ends_add_a_column(self):
        doc = json.loads(run("scan", self.image, "--format", "json").stdout)
        self.assertEqual((doc["end"], doc["message"]), ("completed", ""))
        self.assertTrue(all("end" not in f for f in doc["files"]))
        doc = json.loads(run("scan", self.image, "--format", "json", "--real-ends").stdout)
        ends = {"format", "next-start", "disk-end", "limit", "broken"}
        self.assertTrue(all(f["end"] in ends for f in doc["files"]))
        tsv = run("scan", self.image, "--format", "tsv", "--real-ends").stdout.decode()
        self.assertEqual(tsv.splitlines()[0], "lba\tsize\ttype\tname\tend")

    def test_sigterm_prints_what_was_found_like_ctrl_c(self):
        big = os.path.join(self.dir, "big.img")
        with open(big, "wb") as f:
            f.write(b"\xff\xd8\xff\xe0" + bytes(508))
            f.truncate(64 << 30)
        proc = subprocess.Popen([TRAWLEX, "scan", big, "--format", "json"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        time.sleep(1.0)
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=120)
        self.assertEqual(proc.returncode, 0, err)
        doc = json.loads(out)
        self.assertEqual(doc["end"], "stopped")
        self.assertEqual(doc["files"][0]["name"], "FILE_0.JPG")

    def test_drives_json_stays_valid_for_any_path_bytes(self):
        odd = os.path.join(self.dir.encode(), b"caf\xe9-\x01-\xc3\xa9.img")
        make_image(odd)
        result = subprocess.run([TRAWLEX.encode(), b"drives", odd, b"--format", b"json"],
                                capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        text = result.stdout.decode("utf-8")  # valid UTF-8 as a whole
        row = [r for r in json.loads(text)["drives"] if "path_bytes" in r][-1]
        # Each byte outside valid UTF-8 shows as U+FFFD; the exact bytes stand beside.
        self.assertEqual(row["path"], odd.decode("utf-8", "replace"))
        self.assertEqual(bytes.fromhex(row["path_bytes"]), odd)


class Save(WithImage):
    def test_max_mb_zero_is_no_limit_and_bad_values_are_refused(self):
        out = os.path.join(self.dir, "out")
        result = run("recover", self.image, "-o", out, "--types", "JPG", "--max-mb", "0")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.path.getsize(os.path.join(out, "FILE_0.JPG")), 1 << 20)
        for bad in ("-1", "x", "1.5", ""):
            self.assertEqual(run("recover", self.image, "-o", out, "--max-mb", bad).returncode, 1)

    def test_a_missing_source_leaves_no_folder(self):
        out = os.path.join(self.dir, "new")
        self.assertEqual(run("recover", os.path.join(self.dir, "none.img"), "-o", out).returncode, 2)
        self.assertFalse(os.path.exists(out))

    def test_names_that_are_not_regular_files_are_left_alone_and_end_the_save(self):
        victim = os.path.join(self.dir, "victim")
        with open(victim, "w") as f:
            f.write("keep")
        cases = {
            "symlink": lambda p: os.symlink(victim, p),
            "fifo": os.mkfifo,
            "source": lambda p: os.link(self.image, p),
        }
        for name, make in cases.items():
            with self.subTest(name):
                out = os.path.join(self.dir, name)
                os.mkdir(out)
                make(os.path.join(out, "FILE_2048.PNG"))
                result = run("recover", self.image, "-o", out)
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn(b"Cannot create file", result.stderr)
                self.assertIn(b"saved FILE_0.JPG", result.stdout)  # what came before stays listed
        with open(victim) as f:
            self.assertEqual(f.read(), "keep")
        with open(self.image, "rb") as f:
            self.assertEqual(f.read(4), b"\xff\xd8\xff\xe0")


class SecondCtrlC(unittest.TestCase):
    def test_the_second_ctrl_c_stops_the_save_and_names_the_file_cut(self):
        with tempfile.TemporaryDirectory() as d:
            big = os.path.join(d, "big.img")
            with open(big, "wb") as f:
                f.write(b"\xff\xd8\xff\xe0" + bytes(508))
                f.truncate(64 << 30)
            out = os.path.join(d, "out")
            proc = subprocess.Popen([TRAWLEX, "recover", big, "-o", out, "--max-mb", "0"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            time.sleep(1.0)
            proc.send_signal(signal.SIGINT)  # stops the scan; the JPEG found is saved
            saved = os.path.join(out, "FILE_0.JPG")
            while not (os.path.exists(saved) and os.path.getsize(saved) > 0) and proc.poll() is None:
                time.sleep(0.05)
            proc.send_signal(signal.SIGINT)  # stops the save
            stdout, stderr = proc.communicate(timeout=120)
            self.assertEqual(proc.returncode, 3, stderr)
            self.assertIn("stopped FILE_0.JPG (incomplete", stdout)
            self.assertNotIn("saved FILE_0.JPG", stdout)
            self.assertIn("the save was stopped", stderr)


class OutputOnSource(unittest.TestCase):
    """A folder on the disk being read, directly or through a loop device, is refused."""

    def setUp(self):
        if not is_root():
            self.skipTest("loop devices and mounts need root")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.undo = []

    def tearDown(self):
        for step in reversed(self.undo):
            subprocess.run(step, capture_output=True)
        self.tmp.cleanup()

    def loop_mount(self, image, where, read_only=False):
        args = ["losetup", "-f", "--show"] + (["-r"] if read_only else []) + [image]
        made = subprocess.run(args, capture_output=True, text=True)
        if made.returncode != 0:
            self.skipTest("no loop device: " + made.stderr.strip())
        dev = made.stdout.strip()
        self.undo.append(["losetup", "-d", dev])
        if where:
            os.makedirs(where)
            if subprocess.run(["mount", dev, where], capture_output=True).returncode != 0:
                self.skipTest("cannot mount a loop device here")
            self.undo.append(["umount", where])
        return dev

    def test_folders_on_the_source_are_refused_before_scanning(self):
        outer = os.path.join(self.dir, "outer.img")
        with open(outer, "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["mkfs.ext2", "-q", outer], check=True)
        mnt = os.path.join(self.dir, "outer")
        source = self.loop_mount(outer, mnt)
        # A second file system inside a file on the source, mounted through a loop device.
        inner = os.path.join(mnt, "inner.img")
        with open(inner, "wb") as f:
            f.truncate(8 << 20)
        subprocess.run(["mkfs.ext2", "-q", inner], check=True)
        inner_mnt = os.path.join(self.dir, "inner")
        self.loop_mount(inner, inner_mnt)
        for folder in (os.path.join(mnt, "out"), os.path.join(inner_mnt, "out")):
            with self.subTest(folder):
                result = run("recover", source, "-o", folder)
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn(b"will not save into", result.stderr)
                self.assertNotIn(b"sectors examined", result.stdout)
                self.assertFalse(os.path.exists(folder))
        elsewhere = os.path.join(self.dir, "elsewhere")
        self.assertEqual(run("recover", source, "-o", elsewhere, "--types", "JPG").returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
