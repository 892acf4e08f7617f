"""Installs the program into scratch prefixes (plain, odd characters, with
DESTDIR) and checks what lands where; then the uninstall target.

usage: install_test.py SOURCE_DIR PROGRAM_DIR
PROGRAM_DIR holds the built tamsivo and tesmo.qrr. A scratch build tree is
configured with its own install prefix (which must stay untouched), the two
files are copied into it, and nothing is written outside a temporary
directory."""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

SOURCE, PROGRAM_DIR = (os.path.abspath(a) for a in sys.argv[1:3]) if len(sys.argv) >= 3 else (
    None, None)
APP_ID = "org.example.tamsivo"
LAUNCHER = "share/applications/%s.desktop" % APP_ID
METAINFO = "share/metainfo/%s.metainfo.xml" % APP_ID
XML_LANG = "{http://www.w3.org/XML/1998/namespace}lang"


def run(*cmd, env=None):
    result = subprocess.run(list(cmd), env=env, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(cmd), result.returncode,
                                                       result.stdout, result.stderr))
    return result.stdout


def files_under(root):
    """Relative paths of everything but directories below root."""
    found = set()
    for top, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(top, name), root))
    return found


def expected_files():
    holidays = sorted(n for n in os.listdir(os.path.join(SOURCE, "data/holidays"))
                      if n.endswith(".txt"))
    return {"lib/tamsivo/tamsivo", "lib/tamsivo/tesmo.qrr", "lib/tamsivo/tamsivo.installed",
            "bin/tamsivo", LAUNCHER, METAINFO, "share/icons/hicolor/scalable/apps/tamsivo.svg",
            "share/icons/hicolor/48x48/apps/tamsivo.png",
            "share/icons/hicolor/256x256/apps/tamsivo.png", "share/man/man1/tamsivo.1"} | {
                "share/tamsivo/holidays/" + n for n in holidays}


def desktop_entry(path):
    """{key: raw value} of the [Desktop Entry] group."""
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, _, value = line.partition("=")
                entry[key.strip()] = value.strip()
    return entry


def exec_argv(value):
    """Splits an Exec value the way a desktop environment does: string
    escapes first, then double quotes with \\-escapes, %% as a literal %."""
    unescaped, i = "", 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            unescaped += {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(
                value[i + 1], "\\" + value[i + 1])
            i += 2
        else:
            unescaped += value[i]
            i += 1
    argv, arg, quoted, i, s = [], None, False, 0, unescaped
    while i < len(s):
        c = s[i]
        if quoted:
            if c == "\\" and i + 1 < len(s) and s[i + 1] in '"`$\\':
                arg += s[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                arg += c
        elif c == '"':
            quoted, arg = True, arg or ""
        elif c == " ":
            if arg is not None:
                argv.append(arg)
            arg = None
        else:
            assert c not in '`$\\', "reserved character %r outside quotes in %r" % (c, value)
            arg = (arg or "") + c
        i += 1
    assert not quoted, "unterminated quote in " + value
    if arg is not None:
        argv.append(arg)
    return [a.replace("%%", "%") for a in argv]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path + " is not a PNG"
    return struct.unpack(">II", head[16:24])


def project_version():
    with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(\w+ VERSION ([0-9.]+)", f.read()).group(1)


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="tamsivo-install-")
        cls.build = os.path.join(cls.scratch, "build")
        # The configure-time prefix: no install below may touch it.
        cls.configured = os.path.join(cls.scratch, "configured")
        run("cmake", "-S", SOURCE, "-B", cls.build, "-G", "Ninja",
            "-DCMAKE_INSTALL_PREFIX=" + cls.configured, "-DTAMSIVO_BUILD_TESTS=OFF",
            "-DTAMSIVO_BUILD_BENCH=OFF")
        os.makedirs(os.path.join(cls.build, "bin"), exist_ok=True)
        for name in ("tamsivo", "tesmo.qrr"):
            shutil.copy2(os.path.join(PROGRAM_DIR, name), os.path.join(cls.build, "bin"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def tearDown(self):
        self.assertFalse(os.path.lexists(self.configured),
                         "an install wrote under the configure-time prefix")

    def install(self, prefix=None, destdir=None):
        env = dict(os.environ)
        env.pop("DESTDIR", None)
        if destdir:
            env["DESTDIR"] = destdir
        run("cmake", "--install", self.build, *(["--prefix", prefix] if prefix else []), env=env)
        return env

    def uninstall(self, root, env):
        run("cmake", "--build", self.build, "--target", "uninstall", env=env)
        self.assertEqual(files_under(root), set(), "left behind by uninstall")

    def manifest(self):
        with open(os.path.join(self.build, "install_manifest.txt"), encoding="utf-8") as f:
            return set(f.read().splitlines())

    def check_tree(self, root, prefix):
        """root: where the files are; prefix: where they will run from."""
        self.assertEqual(files_under(root), expected_files())
        self.assertEqual(self.manifest(), {os.path.join(prefix, p) for p in expected_files()})

        link = os.path.join(root, "bin/tamsivo")
        self.assertEqual(os.readlink(link), "../lib/tamsivo/tamsivo")
        self.assertEqual(os.path.realpath(link),
                         os.path.realpath(os.path.join(root, "lib/tamsivo/tamsivo")))
        self.assertTrue(os.access(link, os.X_OK))
        modes = {p: os.stat(os.path.join(root, p)).st_mode & 0o7777 for p in expected_files()}
        self.assertEqual(modes.pop("lib/tamsivo/tamsivo"), 0o755)
        modes.pop("bin/tamsivo")
        # The runtime library is only ever opened, never run.
        self.assertEqual({p for p, m in modes.items() if m not in (0o644, 0o755)}, set())

        with open(os.path.join(root, "lib/tamsivo/tamsivo.installed"), encoding="utf-8") as f:
            self.assertEqual(len(f.read().rstrip("\n").splitlines()), 1)
        for name in os.listdir(os.path.join(root, "share/tamsivo/holidays")):
            with open(os.path.join(root, "share/tamsivo/holidays", name), "rb") as a, \
                    open(os.path.join(SOURCE, "data/holidays", name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        for size in (48, 256):
            self.assertEqual(png_size(os.path.join(
                root, "share/icons/hicolor/%dx%d/apps/tamsivo.png" % (size, size))), (size, size))

        entry = desktop_entry(os.path.join(root, LAUNCHER))
        self.assertEqual(exec_argv(entry["Exec"]), [os.path.join(prefix, "bin/tamsivo")])
        self.assertEqual(entry["Icon"], "tamsivo")
        for key in ("Name", "GenericName", "Comment", "Keywords"):
            self.assertTrue(entry.get(key) and entry.get(key + "[zh_CN]"), key)
        if shutil.which("desktop-file-validate"):
            run("desktop-file-validate", os.path.join(root, LAUNCHER))

    def test_prefix_with_odd_characters(self):
        # Space, %, $ and a quote: each needs its own escape in Exec=.
        prefix = os.path.join(self.scratch, 'my apps%$"x')
        env = self.install(prefix)
        self.check_tree(prefix, prefix)
        self.uninstall(prefix, env)

    def test_destdir_keeps_the_prefix_out_of_exec(self):
        system_prefix = "/opt/tamsivo-install-test"
        existed = os.path.lexists(system_prefix)
        stage = os.path.join(self.scratch, "stage")
        env = self.install(system_prefix, stage)
        self.check_tree(stage + system_prefix, system_prefix)
        if not existed:
            self.assertFalse(os.path.lexists(system_prefix), "DESTDIR install wrote outside it")
        self.uninstall(stage, env)

    def test_default_prefix_under_destdir(self):
        stage = os.path.join(self.scratch, "stage-default")
        env = self.install(destdir=stage)
        self.check_tree(stage + self.configured, self.configured)
        self.uninstall(stage, env)

    def test_metainfo_matches_launcher_and_version(self):
        prefix = os.path.join(self.scratch, "meta")
        self.install(prefix)
        root = ET.parse(os.path.join(prefix, METAINFO)).getroot()
        self.assertEqual(root.get("type"), "desktop-application")
        self.assertEqual(root.findtext("id"), APP_ID)
        self.assertEqual(root.findtext("launchable"), APP_ID + ".desktop")
        for tag in ("name", "summary", "developer_name"):
            self.assertTrue([e for e in root.findall(tag) if e.get(XML_LANG) == "zh-CN"], tag)
        # A release without its metainfo entry is the usual slip.
        newest = root.find("releases/release")
        self.assertEqual(newest.get("version"), project_version())
        for shot in root.iter("image"):
            self.assertTrue(shot.text.startswith("https://"), shot.text)
        if shutil.which("appstreamcli"):
            run("appstreamcli", "validate", "--no-net", os.path.join(prefix, METAINFO))
        shutil.rmtree(prefix)


if __name__ == "__main__":
    if SOURCE is None:
        print(__doc__)
        sys.exit(2)
    unittest.main(argv=sys.argv[:1], verbosity=2)
