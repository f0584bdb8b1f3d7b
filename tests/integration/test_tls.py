"""Certificate errors: a server the engine (GnuTLS, ca-certificates.crt only)
does not trust is checked again by the kiosk with OpenSSL, which also reads
the hashed directory /etc/ssl/certs/; a name mismatch is refused outright;
acceptCertError lets everything through, read again at each error.

The test root lives only in a copy of /etc/ssl/certs that the kiosk sees
through a private mount namespace: the machine's trust store is never
touched."""

import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

import vkxtest
from vkxtest import (CertificateAuthority, HttpsServer, Kiosk, PrivateFilesTestCase,
                     PrivateSystemFiles, Response, click_at, wait_for_nth_line, wait_for_page,
                     wait_until)

TRACE = ("ValidateCertificateChain", "ValidateWithOpenSSL")


def validation(result):
    """The lines of one certificate check by the kiosk."""
    return ["ValidateCertificateChain", "ValidateWithOpenSSL",
            f"ValidateWithOpenSSL, result: {result}"]


# The page moves on by itself once /go names a URL: a location change, not a
# link click (clicks to hosts that need a decision are ClickToNewHostTest's).
WAITING_PAGE = """<!DOCTYPE html><html><body style='margin:0;background:#234'><script>
(async () => {
  for (;;) {
    const next = (await (await fetch('/go', {cache: 'no-store'})).text()).trim();
    if (next) { location.href = next; return; }
    await new Promise(done => setTimeout(done, 100));
  }
})();
</script></body></html>"""


def serve_waiting_page(server):
    server.page("/", WAITING_PAGE)
    server.route("/go", Response(body=b"", content_type="text/plain"))


def go(server, target):
    """Sends the page of server on to target."""
    server.route("/go", Response(body=target.encode(), content_type="text/plain"))


class CertificateErrorTest(PrivateFilesTestCase):

    folder_prefix = "vkx-tls-"

    @classmethod
    def prepare_files(cls):
        ca = CertificateAuthority(cls.folder)
        cls.certs = {
            "root_signed": ca.server("localhost"),
            "chained": ca.server("localhost", issuer=ca.intermediate()),
            "self_signed": ca.self_signed_server("localhost"),
            "self_signed_b": ca.self_signed_server("localhost"),
            "wrong_name": ca.server("wrong.example"),
        }
        cls.ca_root = ca.root
        cls.files = PrivateSystemFiles(cls.folder)
        cls.files.trust_in_directory(ca.root)

    def serve(self, *names):
        """One HTTPS server per certificate name, for this test only."""
        servers = {}
        for name in names:
            servers[name] = HttpsServer(*self.certs[name])
            self.addCleanup(servers[name].stop)
        return servers

    def start(self, url, **config):
        kiosk = Kiosk(self.workdir, self.display,
                      dict(url=url, enableToolbar="false", **config),
                      binary=self.files.wrap(vkxtest.kiosk_binary()))
        self.addCleanup(kiosk.stop)
        return kiosk

    def assert_loaded(self, kiosk, server, start_out):
        """The server's page loaded (status 200) after line start_out."""
        wait_for_page(kiosk, 200, server.url("/"), start_out)
        self.assertEqual(len(server.requests("/")), 1)

    def assert_refused(self, kiosk, server, start_out):
        """The engine's error page stands for the server's page: no HTTP
        request came, though the engine did connect."""
        server.wait_for_handshake_failure()
        wait_for_page(kiosk, 0, server.url("/"), start_out)
        self.assertEqual(server.requests(), [])

    def assert_trace(self, kiosk, start_err, expected, exact=True):
        """The certificate check's lines from stderr line start_err on are
        expected (or begin with it, when not exact: a refused load may be
        tried, and checked, again)."""
        wait_for_nth_line(kiosk, r"^ValidateWithOpenSSL, result: ", 1, "stderr", start_err)
        traced = [line for line in kiosk.lines("stderr")[start_err:] if line.startswith(TRACE)]
        self.assertEqual(traced if exact else traced[:len(expected)], expected, kiosk.describe())

    def test_root_in_hashed_directory_only(self):
        servers = self.serve("root_signed", "chained", "self_signed")
        for server in servers.values():
            serve_waiting_page(server)
        kiosk = self.start(servers["root_signed"].url("/"))

        # The engine refuses the unknown root; OpenSSL finds it by its hash.
        self.assert_loaded(kiosk, servers["root_signed"], 0)
        self.assert_trace(kiosk, 0, validation(1))
        # The engine's own refusal came first; only the load after the
        # decision reached the server.
        servers["root_signed"].wait_for_handshake_failure()

        # Server certificate and intermediate from the server, root from the
        # directory: the chain is handed to OpenSSL.
        out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
        go(servers["root_signed"], servers["chained"].url("/"))
        self.assert_loaded(kiosk, servers["chained"], out)
        self.assert_trace(kiosk, err, validation(1))

        # A certificate that signs itself is in no store.
        out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
        go(servers["chained"], servers["self_signed"].url("/"))
        self.assert_refused(kiosk, servers["self_signed"], out)
        self.assert_trace(kiosk, err, validation(0), exact=False)
        self.assertNotIn("Page loaded, status code: 200", kiosk.lines()[out:])

    def test_a_server_that_may_ask_for_a_client_certificate_loads_without_one(self):
        server = self.serve("root_signed")["root_signed"]
        server._context.verify_mode = ssl.CERT_OPTIONAL
        server._context.load_verify_locations(self.ca_root)
        serve_waiting_page(server)
        kiosk = self.start(server.url("/"))
        self.assert_loaded(kiosk, server, 0)
        kiosk.wait_for_line(r"^Client certificate asked for by localhost: none offered$",
                            stream="stderr")

    def test_name_mismatch_refused_without_validation(self):
        server = self.serve("wrong_name")["wrong_name"]
        serve_waiting_page(server)
        kiosk = self.start(server.url("/"))
        self.assert_refused(kiosk, server, 0)
        self.assertNotIn("Page loaded, status code: 200", kiosk.lines())
        # Signed by the trusted root, but for another name: OpenSSL is not asked.
        time.sleep(0.3)  # stderr is read by a thread of its own
        stderr = kiosk.lines("stderr")
        self.assertEqual([line for line in stderr if line.startswith(TRACE)], [], stderr)

    def test_accept_cert_error_read_at_each_error(self):
        servers = self.serve("self_signed", "wrong_name", "self_signed_b")
        for server in servers.values():
            serve_waiting_page(server)
        kiosk = self.start(servers["self_signed"].url("/"), acceptCertError="true")

        self.assert_loaded(kiosk, servers["self_signed"], 0)
        out = len(kiosk.lines())
        go(servers["self_signed"], servers["wrong_name"].url("/"))
        self.assert_loaded(kiosk, servers["wrong_name"], out)
        stderr = kiosk.lines("stderr")
        self.assertEqual([line for line in stderr if line.startswith(TRACE)], [], stderr)

        # Without the key the next certificate error is decided on its merits.
        with open(kiosk.config_path, "w", encoding="utf-8") as config:
            config.write(f"url={servers['self_signed'].url('/')}\nenableToolbar=false\n")
        out, err = len(kiosk.lines()), len(kiosk.lines("stderr"))
        go(servers["wrong_name"], servers["self_signed_b"].url("/"))
        self.assert_refused(kiosk, servers["self_signed_b"], out)
        self.assert_trace(kiosk, err, validation(0), exact=False)


class ClickToNewHostTest(PrivateFilesTestCase):
    """Links between a server that the engine trusts (its root in the bundle)
    and one whose certificate needs the kiosk's "continue", under twenty host
    names, so that every click to it is the first to that host, while another
    process keeps a core busy. The engine used to cancel such a click's
    connection now and then, leaving an error page."""

    folder_prefix = "vkx-clicks-"
    HOSTS = [f"h{i}.clicks.test" for i in range(20)]
    LINK_COLOUR = (70, 110, 150)

    @classmethod
    def prepare_files(cls):
        ca = CertificateAuthority(cls.folder)
        cls.portal_cert = ca.server("portal.clicks.test")
        cls.other_cert = ca.self_signed_server(*cls.HOSTS)
        cls.files = PrivateSystemFiles(cls.folder)
        cls.files.trust_in_bundle(ca.root)
        cls.files.map_host("127.0.0.1", "portal.clicks.test", *cls.HOSTS)

    def link(self, target):
        return ("<!DOCTYPE html><html><body style='margin:0'>"
                f"<a href='{target}' style='position:fixed;inset:0;"
                f"background:rgb{self.LINK_COLOUR}'></a></body></html>")

    def test_forty_clicks_land(self):
        portal = HttpsServer(*self.portal_cert, hostname="portal.clicks.test")
        self.addCleanup(portal.stop)
        other = HttpsServer(*self.other_cert, hostname=self.HOSTS[0])
        self.addCleanup(other.stop)
        pages = []
        for i, host in enumerate(self.HOSTS):
            pages += [f"https://portal.clicks.test:{portal.port}/a{i}", f"https://{host}:{other.port}/b{i}"]
        pages.append(f"https://portal.clicks.test:{portal.port}/end")
        for page, target in zip(pages, pages[1:]):
            server = portal if "portal" in page else other
            server.page(page.split(str(server.port), 1)[1], self.link(target))
        portal.page("/end", vkxtest.solid_page((0, 0, 0)))
        cookies = os.path.join(self.workdir, "cookies.txt")
        with open(cookies, "w", encoding="utf-8") as out:
            out.write("portal.clicks.test\tFALSE\t/\tFALSE\t0\tsession\ts1\t\n")
        kiosk = Kiosk(self.workdir, self.display,
                      dict(url=pages[0], enableToolbar="false", acceptCertError="true",
                           cacheCookies="true", cookieFile=cookies),
                      binary=self.files.wrap(vkxtest.kiosk_binary()))
        self.addCleanup(kiosk.stop)
        burner = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        self.addCleanup(burner.wait)
        self.addCleanup(burner.kill)
        host = self.x.geometry(self.x.find_host_window())
        middle = (host.abs_x + host.width // 2, host.abs_y + host.height // 2)
        out = 0
        for page, target in zip(pages, pages[1:]):
            out = wait_for_page(kiosk, 200, page, out, timeout=20).index + 1
            self.x.wait_for_colour((middle[0] - 20, middle[1] - 20, 40, 40), self.LINK_COLOUR)
            # The pointer comes onto the link just before the click, as a hand does.
            click_at(self.x, *middle)
            self.x.move_pointer(vkxtest.SCREEN_WIDTH - 1, vkxtest.SCREEN_HEIGHT - 1)
        wait_for_page(kiosk, 200, pages[-1], out, timeout=20)


def client_page(request):
    """Reports the client certificate the server got, on the console."""
    name = request.client or "none"
    return Response(body=f"<title>client {name}</title><script>console.log('client {name}')"
                    "</script>".encode())


class ClientCertificateTest(vkxtest.KioskTestCase):
    """Servers that ask for a TLS client certificate (localhost demands one,
    127.0.0.1 asks and takes none), and the kiosk's certificate."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.folder = tempfile.mkdtemp(prefix="vkx-client-")
        cls.ca = CertificateAuthority(cls.folder)
        cls.servers = {}
        for host, required in (("localhost", True), ("127.0.0.1", False)):
            server = HttpsServer(*cls.ca.self_signed_server(host), hostname=host,
                                 client_ca=cls.ca.root, client_required=required)
            server.route("/", client_page)
            cls.servers[host] = server
        cls.cert, cls.key = cls.ca.client("vkx-terminal")
        cls.combined = os.path.join(cls.folder, "combined.pem")
        with open(cls.combined, "w", encoding="ascii") as out:
            for part in (cls.cert, cls.key):
                with open(part, encoding="ascii") as pem:
                    out.write(pem.read())

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers.values():
            server.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)
        super().tearDownClass()

    def run_kiosk(self, host, env=None, **config):
        kiosk = self.start_kiosk(dict(url=self.servers[host].url("/"), acceptCertError="true",
                                      enableToolbar="false", **config), env=env)
        return kiosk

    def test_pem_certificate_offered_to_its_hosts_only(self):
        cases = (
            ("localhost", dict(clientCertificate=self.cert, clientCertificateKey=self.key),
             "vkx-terminal"),
            ("localhost", dict(clientCertificate=self.combined), "vkx-terminal"),
            ("127.0.0.1", dict(clientCertificate=self.combined, clientCertificateHosts="localhost"),
             "none"),
            ("127.0.0.1", dict(clientCertificate=self.combined,
                               clientCertificateHosts="localhost, 127.0.0.1"), "vkx-terminal"),
        )
        for host, config, expected in cases:
            with self.subTest(host=host, config=config):
                kiosk = self.run_kiosk(host, **config)
                kiosk.wait_for_line(rf"^>> client {expected} ", timeout=30)
                offered = f"Client certificate offered to {host}"
                self.assertEqual(offered in kiosk.lines(), expected != "none")
                kiosk.stop()

    def test_status_page_when_the_site_demands_one(self):
        for config, reason in (({}, None),
                               ({"clientCertificate": os.path.join(self.folder, "missing.pem")},
                                "^Client certificate not loaded \\(clientCertificate\\): ")):
            with self.subTest(config=config):
                served = len(self.servers["localhost"].requests("/"))
                kiosk = self.run_kiosk("localhost", **config)
                host = self.x.find_host_window()
                wait_until(lambda: (self.x.text_property(host, "_NET_WM_NAME") or ("", ""))[1] ==
                           "Certificate needed: localhost", 30, what="the status page")
                if reason:
                    kiosk.wait_for_line(reason, stream="stderr")
                self.assertEqual(len(self.servers["localhost"].requests("/")), served)
                kiosk.stop()

    def token(self, pin):
        """The environment of a kiosk whose SoftHSM2 token (a configuration
        and token directory of the test's own) holds a client certificate
        and its key under `pin`, and the configuration naming them."""
        folder = os.path.join(self.workdir, "softhsm")
        os.makedirs(os.path.join(folder, "tokens"))
        conf = os.path.join(folder, "softhsm2.conf")
        with open(conf, "w", encoding="ascii") as out:
            out.write(f"directories.tokendir = {folder}/tokens\nobjectstore.backend = file\n"
                      "log.level = ERROR\n")
        env = dict(os.environ, SOFTHSM2_CONF=conf, GNUTLS_PIN=pin)
        cert, key = self.ca.client("vkx-token")
        pkcs8 = os.path.join(folder, "key.p8")
        for argv in (["softhsm2-util", "--init-token", "--free", "--label", "vkx", "--pin", pin,
                      "--so-pin", "so-" + pin],
                     ["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", key, "-out", pkcs8],
                     ["softhsm2-util", "--import", pkcs8, "--token", "vkx", "--label", "terminal",
                      "--id", "01", "--pin", pin],
                     ["p11tool", "--login", "--write", "--load-certificate", cert, "--label",
                      "terminal", "--id", "01", "pkcs11:token=vkx"]):
            subprocess.run(argv, env=env, check=True, capture_output=True, timeout=30)
        config = {"clientCertificate": "pkcs11:token=vkx;object=terminal;type=cert",
                  "clientCertificateKey": "pkcs11:token=vkx;object=terminal;type=private"}
        return {"SOFTHSM2_CONF": conf}, config

    @unittest.skipUnless(shutil.which("softhsm2-util") and shutil.which("p11tool"),
                         "SoftHSM2 or p11tool is not installed")
    def test_token_with_the_pin_from_the_environment_or_typed(self):
        pin, wrong = "pin-a7c9", "pin-x3k8"
        env, config = self.token(pin)
        kiosk = self.run_kiosk("localhost", env=dict(env, VKX_CLIENT_CERT_PIN=pin), **config)
        kiosk.wait_for_line(r"^>> client vkx-token ", timeout=30)
        self.assertFalse([line for line in kiosk.lines() if "PIN" in line])
        kiosk.stop()

        kiosk = self.run_kiosk("localhost", env=env, **config)
        host = self.x.find_host_window()
        for typed, line in ((wrong, "asked for"), (pin, "refused")):
            kiosk.wait_for_line(f"^Client certificate PIN {line} by the token for localhost$",
                                timeout=30)
            wait_until(lambda: (self.x.text_property(host, "_NET_WM_NAME") or ("", ""))[1] ==
                       "PIN for localhost", 10, what="the PIN page")
            self.x.xdotool("type", "--delay", "30", typed)
            self.x.key("Return")
        kiosk.wait_for_line(r"^>> client vkx-token ", timeout=30)
        output = "\n".join(kiosk.lines() + kiosk.lines("stderr"))
        self.assertNotIn(pin, output)
        self.assertNotIn(wrong, output)


if __name__ == "__main__":
    vkxtest.main()
