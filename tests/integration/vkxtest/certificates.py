"""Certificates for tests, made with the openssl command line, and private
copies of the trust store and /etc/hosts that a kiosk sees in place of the
machine's own."""

import os
import re
import shlex
import shutil
import subprocess
import tempfile


def _openssl(*args):
    result = subprocess.run(["openssl", *map(str, args)], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=30)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(map(str, args))} failed: "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result.stdout.decode()


class CertificateAuthority:
    """Certificates for tests, made with the openssl command line in folder:
    a root of its own (a subject no other test shares), intermediates, and
    server certificates. Keys are P-256: quick to make."""

    _CA = ("basicConstraints = critical,CA:TRUE\n"
           "keyUsage = critical,keyCertSign,cRLSign\n"
           "subjectKeyIdentifier = hash\n")
    _SERVER = ("basicConstraints = critical,CA:FALSE\n"
               "keyUsage = critical,digitalSignature\n"
               "extendedKeyUsage = serverAuth\n"
               "subjectAltName = {san}\n")

    _CLIENT = ("basicConstraints = critical,CA:FALSE\n"
               "keyUsage = critical,digitalSignature\n"
               "extendedKeyUsage = clientAuth\n")

    def __init__(self, folder):
        self.folder = folder
        self.tag = os.urandom(4).hex()
        self._names = 0
        self.root, self.root_key = self._self_signed(f"vkx test root {self.tag}", self._CA)

    def _path(self, label, suffix):
        return os.path.join(self.folder, f"{label}.{suffix}")

    def _key(self, label):
        key = self._path(label, "key")
        _openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                 "-out", key)
        return key

    def _config(self, label, extensions):
        path = self._path(label, "cnf")
        with open(path, "w", encoding="ascii") as out:
            out.write("[req]\ndistinguished_name = dn\n[dn]\n[ext]\n" + extensions)
        return path

    def _label(self, common_name):
        self._names += 1
        return f"{self._names:02d}-" + re.sub(r"[^A-Za-z0-9.-]", "_", common_name)

    def _self_signed(self, common_name, extensions):
        label = self._label(common_name)
        key, cert = self._key(label), self._path(label, "pem")
        _openssl("req", "-x509", "-new", "-key", key, "-subj", f"/CN={common_name}",
                 "-days", 2, "-config", self._config(label, extensions), "-extensions", "ext",
                 "-out", cert)
        return cert, key

    def _signed(self, common_name, extensions, issuer):
        issuer_cert, issuer_key = issuer or (self.root, self.root_key)
        label = self._label(common_name)
        key, csr, cert = self._key(label), self._path(label, "csr"), self._path(label, "pem")
        _openssl("req", "-new", "-key", key, "-subj", f"/CN={common_name}", "-out", csr)
        _openssl("x509", "-req", "-in", csr, "-CA", issuer_cert, "-CAkey", issuer_key,
                 "-set_serial", "0x" + os.urandom(8).hex(), "-days", 2,
                 "-extfile", self._config(label, extensions), "-extensions", "ext",
                 "-out", cert)
        return cert, key

    @staticmethod
    def _san(dns_names):
        return ",".join(f"DNS:{name}" for name in dns_names)

    def intermediate(self, issuer=None):
        """(certificate, key) of a CA signed by issuer (the root when None)."""
        return self._signed(f"vkx test intermediate {self.tag}", self._CA, issuer)

    def server(self, *dns_names, issuer=None):
        """(chain file, key) for a server certificate signed by issuer (a
        (certificate, key) pair; the root when None); the chain file holds
        the issuer after the certificate unless the issuer is the root."""
        cert, key = self._signed(dns_names[0], self._SERVER.format(san=self._san(dns_names)),
                                 issuer)
        if issuer is None:
            return cert, key
        chain = cert[:-len(".pem")] + ".chain.pem"
        with open(chain, "w", encoding="ascii") as out:
            for part in (cert, issuer[0]):
                with open(part, encoding="ascii") as pem:
                    out.write(pem.read())
        return chain, key

    def client(self, common_name):
        """(certificate, key) of a TLS client certificate signed by the root."""
        return self._signed(common_name, self._CLIENT, None)

    def self_signed_server(self, *dns_names):
        """(certificate, key) of a server certificate that signs itself."""
        return self._self_signed(dns_names[0], self._SERVER.format(san=self._san(dns_names)))


class PrivateSystemFiles:
    """Copies of /etc/ssl/certs and /etc/hosts that a program started
    through wrap() sees in place of the real ones: bind mounts in a mount
    namespace of its own (unshare -m, needs root), so the machine's files
    are never touched. trust_in_directory() puts a certificate only where
    OpenSSL looks it up by subject hash; trust_in_bundle() adds it to
    ca-certificates.crt, which GnuTLS (and so WebKit) reads."""

    _available = None

    _CLIENT = ("basicConstraints = critical,CA:FALSE\n"
               "keyUsage = critical,digitalSignature\n"
               "extendedKeyUsage = clientAuth\n")

    def __init__(self, folder):
        self.folder = folder
        self.certs = os.path.join(folder, "certs")
        shutil.copytree("/etc/ssl/certs", self.certs, symlinks=True)
        bundle = os.path.join(self.certs, "ca-certificates.crt")
        if os.path.islink(bundle):
            target = os.path.realpath(bundle)
            os.unlink(bundle)
            shutil.copyfile(target, bundle)
        self.hosts = None

    @classmethod
    def unavailable_reason(cls):
        """None when private mounts work here, else why not."""
        if cls._available is None:
            folder = tempfile.mkdtemp(prefix="vkx-ns-")
            try:
                marker = os.path.join(folder, "vkx-marker")
                open(marker, "w").close()
                result = subprocess.run(
                    ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
                     'mount --bind "$1" /etc/ssl/certs && test -e /etc/ssl/certs/vkx-marker',
                     "sh", folder],
                    stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
                cls._available = "" if result.returncode == 0 else (
                    "a private mount namespace (unshare -m, bind mount over /etc/ssl/certs) "
                    f"does not work here: {result.stderr.decode(errors='replace').strip()}")
            except (OSError, subprocess.TimeoutExpired) as error:
                cls._available = f"unshare cannot run: {error}"
            finally:
                shutil.rmtree(folder, ignore_errors=True)
        return cls._available or None

    def trust_in_directory(self, cert):
        """Adds cert as <subject hash>.N; returns that path."""
        digest = _openssl("x509", "-hash", "-noout", "-in", cert).strip()
        for n in range(100):
            path = os.path.join(self.certs, f"{digest}.{n}")
            if not os.path.lexists(path):
                shutil.copyfile(cert, path)
                return path
        raise RuntimeError(f"no free hash name for {cert}")

    def trust_in_bundle(self, cert):
        with open(cert, encoding="ascii") as pem, \
                open(os.path.join(self.certs, "ca-certificates.crt"), "a", encoding="ascii") as out:
            out.write(pem.read())

    def map_host(self, address, *names):
        """Makes names resolve to address (a line added to the hosts copy)."""
        if self.hosts is None:
            self.hosts = os.path.join(self.folder, "hosts")
            shutil.copyfile("/etc/hosts", self.hosts)
        with open(self.hosts, "a", encoding="ascii") as out:
            out.write(f"\n{address} {' '.join(names)}\n")

    def wrap(self, program):
        """A script that runs program (same PID: every step execs) with the
        copies mounted over the real files."""
        path = os.path.join(self.folder, "with-private-files")
        program = os.path.abspath(program)
        with open(path, "w", encoding="utf-8") as out:
            out.write(
                "#!/bin/sh\n"
                "exec unshare --mount --propagation private -- /bin/sh -c '\n"
                '  mount --bind "$1" /etc/ssl/certs || exit 97\n'
                '  if [ -n "$2" ]; then mount --bind "$2" /etc/hosts || exit 97; fi\n'
                '  shift 2\n'
                '  exec "$@"\' with-private-files '
                f"{shlex.quote(self.certs)} {shlex.quote(self.hosts or '')} "
                f"{shlex.quote(program)} \"$@\"\n")
        os.chmod(path, 0o755)
        return path
