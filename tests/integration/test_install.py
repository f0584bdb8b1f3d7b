"""The kiosk installed like a system program: a relocated install tree that
still finds its web-process extension, the command-line options, the manual
pages and the Debian package."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from vkxtest import Kiosk, KioskTestCase, kiosk_binary

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_DIR = os.environ.get("VKX_BUILD_DIR_ABS") or os.path.dirname(os.path.abspath(kiosk_binary()))


class CommandLineTest(unittest.TestCase):
    def run_kiosk(self, *args):
        return subprocess.run([kiosk_binary(), *args], capture_output=True, text=True, timeout=20,
                              env={"PATH": os.environ.get("PATH", "/usr/bin:/bin")})

    def test_help_and_version_exit_zero_without_a_display(self):
        help_run = self.run_kiosk("--help")
        self.assertEqual(help_run.returncode, 0)
        self.assertRegex(help_run.stdout, r"^Usage: .*vkxbrowser \[--help\] \[--version\] \[--check-config\]\n")
        self.assertIn("VKX_CONFIG_PATH", help_run.stdout)
        self.assertNotIn("Configuration values:", help_run.stdout)
        version = self.run_kiosk("some-other-argument", "--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^vkxbrowser \d+\.\d+\.\d+\n$")

    def test_other_arguments_are_left_alone(self):
        # Not an option of ours: the kiosk starts as usual and fails only for
        # want of a display.
        run = self.run_kiosk("--kiosk-mode", "https://example.invalid/")
        self.assertEqual(run.returncode, 1)
        self.assertIn("Configuration values:", run.stdout)
        self.assertIn("Cannot open display", run.stderr)


class ManualPageTest(unittest.TestCase):
    def test_pages_render_without_warnings(self):
        if not shutil.which("man"):
            self.skipTest("man is not installed")
        pages = [os.path.join(BUILD_DIR, "man", name) for name in ("vkxbrowser.1", "vkxbrowser.conf.5")]
        for page in pages:
            self.assertTrue(os.path.exists(page), page)
            run = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True,
                                 timeout=30, env={**os.environ, "MANWIDTH": "80", "LC_ALL": "C.UTF-8"})
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stderr.strip(), "", page)
            self.assertIn("SEE ALSO", run.stdout)


class MarkdownLinkTest(unittest.TestCase):
    def test_relative_links_name_tracked_files(self):
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
        listed = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True,
                                timeout=30)
        if listed.returncode != 0:
            self.skipTest("not a git checkout")
        tracked = set(listed.stdout.split())
        for document in (f for f in tracked if f.endswith(".md")):
            with open(os.path.join(root, document), encoding="utf-8") as text:
                targets = re.findall(r"\]\(([^)\s]+)\)", text.read())
            for target in targets:
                if re.match(r"^[a-z]+:|^#", target):
                    continue
                path = os.path.normpath(os.path.join(os.path.dirname(document),
                                                     target.split("#")[0]))
                with self.subTest(document=document, link=target):
                    self.assertTrue(path in tracked or any(t.startswith(path + "/")
                                                           for t in tracked), path)


class InstallTreeTest(KioskTestCase):
    """Installed under another prefix and staged with DESTDIR, the program
    still finds its extension: the page's console output is logged."""

    def test_staged_install_runs_and_forwards_the_console(self):
        stage = os.path.join(self.workdir, "stage")
        env = dict(os.environ, DESTDIR=stage)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", "/opt/kiosk"], check=True,
                       env=env, capture_output=True, timeout=120)
        prefix = os.path.join(stage, "opt", "kiosk")
        binary = os.path.join(prefix, "bin", "vkxbrowser")
        for path in ("bin/vkxbrowser", "lib/vkxbrowser/web-extensions/libvkxconsole.so",
                     "share/vkxbrowser/vkxbrowser.conf", "share/vkxbrowser/start.html",
                     "share/man/man1/vkxbrowser.1", "share/man/man5/vkxbrowser.conf.5",
                     "share/vkxbrowser/session/vkxbrowser-session",
                     "share/vkxbrowser/session/openbox-rc.xml"):
            self.assertTrue(os.path.exists(os.path.join(prefix, path)), path)
        with open(os.path.join(prefix, "share/vkxbrowser/vkxbrowser.conf"), encoding="utf-8") as conf:
            self.assertIn("url=file:///opt/kiosk/share/vkxbrowser/start.html\n", conf.read())

        url = self.http.page("/console.html",
                             "<html><body><script>\nconsole.log('installed ' + 42);\n</script></body></html>")
        kiosk = Kiosk(self.workdir, self.display, {"url": url, "enableToolbar": "false"}, binary=binary)
        self.addCleanup(kiosk.stop)
        kiosk.wait_for_line(r"^>> installed 42 \(Source: .*/console\.html, Line: 2\)$", timeout=30)
        self.assertFalse(any("Web extension directory not found" in l for l in kiosk.lines("stderr")))


class DebianPackageTest(unittest.TestCase):
    def test_package_contents_dependencies_and_lintian(self):
        for tool in ("dpkg-deb", "dpkg-shlibdeps", "lintian"):
            if not shutil.which(tool):
                self.skipTest(f"{tool} is not installed")
        dist = tempfile.mkdtemp(prefix="vkx-dist-")
        self.addCleanup(shutil.rmtree, dist, ignore_errors=True)
        run = subprocess.run([os.path.join(SOURCE_DIR, "scripts", "package"), "--from-build", BUILD_DIR],
                             capture_output=True, text=True, timeout=300,
                             env=dict(os.environ, VKX_DIST_DIR=dist))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("lintian: no errors", run.stdout)
        self.assertNotRegex(run.stdout, r"(?m)^E: ")
        debs = [f for f in os.listdir(dist) if f.endswith(".deb")]
        self.assertEqual(len(debs), 1)
        deb = os.path.join(dist, debs[0])

        fields = subprocess.run(["dpkg-deb", "-f", deb], capture_output=True, text=True,
                                check=True).stdout
        depends = re.search(r"(?m)^Depends: (.*)$", fields).group(1)
        # Worked out from the binaries: the engine, the toolkit, X and OpenSSL.
        for package in ("libwebkit2gtk-4.1-0", "libgtk-3-0", "libx11-6", "libxpm4", "libssl3", "libc6"):
            self.assertIn(package, depends)
        # And what the engine runs its renderer's sandbox with.
        self.assertIn(", bubblewrap, xdg-dbus-proxy", depends)
        self.assertRegex(fields, r"(?m)^Package: vkxbrowser$")

        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True,
                                 check=True).stdout
        for path in ("./usr/bin/vkxbrowser", "./usr/lib/vkxbrowser/web-extensions/libvkxconsole.so",
                     "./usr/share/man/man1/vkxbrowser.1.gz", "./usr/share/man/man5/vkxbrowser.conf.5.gz",
                     "./usr/share/doc/vkxbrowser/copyright", "./usr/share/vkxbrowser/vkxbrowser.conf"):
            self.assertIn(path, listing)
        self.assertNotIn("./usr/local", listing)
        self.assertNotIn("vkxbrowser-test", listing)


if __name__ == "__main__":
    unittest.main()
