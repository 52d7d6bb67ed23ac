"""The Debian package made from a build: its files, its control fields, the installed
service's default catalogue, and the launcher entry and AppStream data as their validators
see them. The package is made by CPack from the build folder into a folder of its own.
"""

import argparse
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.request

PACKAGE_SECONDS = 240
TOOL_SECONDS = 60
SERVICE_START_SECONDS = 10
ICON_SIZES = (16, 32, 48, 128)
DEMO = "usr/share/norvik/demo"
DOC = "usr/share/doc/norvik"
EXPECTED_FILES = [
    "usr/bin/norvik",
    "usr/bin/norvik-service",
    f"{DEMO}/catalogue.json",
    "usr/share/applications/norvik.desktop",
    "usr/share/metainfo/norvik.metainfo.xml",
    "usr/share/locale/de/LC_MESSAGES/norvik.mo",
    "usr/share/man/man1/norvik.1.gz",
    "usr/share/man/man1/norvik-service.1.gz",
    f"{DOC}/copyright",
    f"{DOC}/changelog.gz",
    f"{DOC}/changelog.Debian.gz",
] + [f"usr/share/icons/hicolor/{s}x{s}/apps/norvik.png" for s in ICON_SIZES]
EXECUTABLE_MODE = "-rwxr-xr-x"
FILE_MODE = "-rw-r--r--"
DIR_MODE = "drwxr-xr-x"
DESCRIPTION_WIDTH = 80

args = None


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=TOOL_SECONDS,
                          **kwargs)


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="norvik-package-")
        made = subprocess.run(
            ["cpack", "--config", os.path.join(args.build_dir, "CPackConfig.cmake"), "-G",
             "DEB", "-B", cls.work], capture_output=True, text=True, timeout=PACKAGE_SECONDS)
        debs = [f for f in os.listdir(cls.work) if f.endswith(".deb")]
        if made.returncode != 0 or len(debs) != 1:
            shutil.rmtree(cls.work, ignore_errors=True)
            raise AssertionError(f"cpack failed ({made.returncode}): {made.stdout[-2000:]}"
                                 f"{made.stderr[-2000:]}")
        cls.deb = os.path.join(cls.work, debs[0])
        cls.root = os.path.join(cls.work, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True, timeout=TOOL_SECONDS)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def listing(self):
        """Path to (mode, owner) for every entry of the package's data."""
        entries = {}
        for line in run(["dpkg-deb", "-c", self.deb]).stdout.splitlines():
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            entries[path.removeprefix("./").rstrip("/")] = (mode, owner)
        return entries

    def test_holds_the_programs_data_and_documents_and_nothing_outside_usr(self):
        entries = self.listing()
        with open(os.path.join(args.source_dir, "service", "demo", "catalogue.json")) as f:
            videos = json.load(f)["videos"]
        demo = {f"{DEMO}/{v['thumbnail']}" for v in videos}
        demo |= {f"{DEMO}/{s['file']}" for v in videos for s in v["streams"]}
        for path in EXPECTED_FILES + sorted(demo):
            self.assertIn(path, entries)
        self.assertEqual([], [p for p in entries if p and p != "usr" and
                              not p.startswith("usr/")])
        for path, (mode, owner) in entries.items():
            expected = (DIR_MODE if mode.startswith("d") else
                        EXECUTABLE_MODE if path.startswith("usr/bin/") else FILE_MODE)
            self.assertEqual((expected, "root/root"), (mode, owner), path)

    def test_compressed_documents_carry_no_time_stamp(self):
        for path in EXPECTED_FILES:
            if path.endswith(".gz"):
                with open(os.path.join(self.root, path), "rb") as f:
                    header = f.read(8)
                self.assertEqual(b"\x1f\x8b", header[:2], path)
                self.assertEqual(b"\0\0\0\0", header[4:8], path)

    def test_control_fields(self):
        self.assertEqual("norvik", self.field("Package"))
        self.assertEqual("2.0-1", self.field("Version"))
        self.assertEqual(run(["dpkg", "--print-architecture"]).stdout.strip(),
                         self.field("Architecture"))
        self.assertEqual("yt-dlp, ffmpeg", self.field("Recommends"))
        depends = [d.split()[0] for d in self.field("Depends").split(", ")]
        for library in ("libc6", "libstdc++6", "libwxgtk3.2-1", "libwxbase3.2-1", "libcurl4",
                        "libsqlite3-0"):
            self.assertIn(library, depends)
        self.assertNotIn("yt-dlp", depends)
        self.assertNotIn("ffmpeg", depends)
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        description = self.field("Description").splitlines()
        self.assertEqual("save online videos to your folders", description[0])
        # Package tools show the long description in 80 columns.
        self.assertEqual([], [line for line in description if len(line) > DESCRIPTION_WIDTH])
        self.assertTrue(os.path.basename(self.deb).startswith("norvik_2.0-1_"))

    def test_validators_accept_the_launcher_entry_and_the_metainfo(self):
        desktop = run(["desktop-file-validate",
                       os.path.join(self.root, "usr/share/applications/norvik.desktop")])
        self.assertEqual((0, ""), (desktop.returncode, desktop.stdout + desktop.stderr))
        metainfo = run(["appstreamcli", "validate", "--no-net",
                        os.path.join(self.root, "usr/share/metainfo/norvik.metainfo.xml")])
        self.assertEqual(0, metainfo.returncode, metainfo.stdout + metainfo.stderr)

    def test_installed_service_serves_the_installed_demo_by_default(self):
        service_exe = os.path.join(self.root, "usr/bin/norvik-service")
        catalogue = os.path.join(self.root, DEMO, "catalogue.json")
        self.assertIn(f"(default {catalogue})", run([service_exe, "--help"]).stdout)
        # A title only the installed copy has shows which catalogue is served.
        with open(catalogue, encoding="utf-8") as f:
            data = json.load(f)
        data["videos"][0]["title"] = "Installed copy"
        with open(catalogue, "w", encoding="utf-8") as f:
            json.dump(data, f)
        service = subprocess.Popen([service_exe, "--port", "0"], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        try:
            ready, _, _ = select.select([service.stdout], [], [], SERVICE_START_SECONDS)
            line = service.stdout.readline().decode().strip() if ready else ""
            self.assertTrue(line.startswith("listening on http://"), line)
            address = f"{line.split()[-1]}/api/?videoid={data['videos'][0]['id']}"
            with urllib.request.urlopen(address, timeout=SERVICE_START_SECONDS) as reply:
                text = reply.read().decode()
            self.assertIn("title:Installed copy\n", text)
            self.assertIn("status:ok", text)
        finally:
            service.terminate()
            service.wait(SERVICE_START_SECONDS)
            service.stdout.close()


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
