import time, os, vkxtest
from vkxtest import KioskTestCase, CertificateAuthority, HttpsServer
import test_tls
class T(KioskTestCase):
    def test_x(self):
        ca = CertificateAuthority(self.workdir)
        server = HttpsServer(*ca.self_signed_server("localhost"), client_ca=ca.root, client_required=True)
        self.addCleanup(server.stop)
        server.route("/", test_tls.client_page)
        kiosk = self.start_kiosk(dict(url=server.url("/"), acceptCertError="true", enableToolbar="false"))
        time.sleep(8)
        print("\n".join(kiosk.lines("stderr")))
