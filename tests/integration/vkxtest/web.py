"""Local HTTP and HTTPS servers on 127.0.0.1 that serve routes of a test's
own and record every request."""

import http.server
import ssl
import sys
import threading
import time
from dataclasses import dataclass, field

from .waiting import DEFAULT_TIMEOUT, WaitTimeout


@dataclass
class Request:
    t: float
    method: str
    path: str  # with the query string
    headers: dict  # lower-cased names
    body: bytes
    client: str = ""  # over TLS: the common name of the client's certificate


@dataclass
class Response:
    status: int = 200
    body: bytes = b""
    content_type: str = "text/html; charset=utf-8"
    headers: dict = field(default_factory=dict)


class HttpServer:
    """A threaded HTTP server on host (127.0.0.1) and port (0: a free one).
    Routes map a path (without query) to a Response or to a function of the
    Request returning one; anything else is a 404. Every request is recorded."""

    def __init__(self, host="127.0.0.1", port=0):
        self._routes = {}
        self._requests = []
        self._cond = threading.Condition()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def _serve(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                request = Request(time.monotonic(), self.command, self.path,
                                  {k.lower(): v for k, v in self.headers.items()}, body,
                                  getattr(self, "client_name", ""))
                with server._cond:
                    server._requests.append(request)
                    server._cond.notify_all()
                route = server._routes.get(self.path.split("?", 1)[0])
                response = route(request) if callable(route) else route
                if response is None:
                    response = Response(404, b"not found", "text/plain")
                self.send_response(response.status)
                self.send_header("Content-Type", response.content_type)
                self.send_header("Content-Length", str(len(response.body)))
                self.send_header("Cache-Control", "no-store")
                for name, value in response.headers.items():
                    self.send_header(name, value)
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(response.body)

            do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = _serve

            def log_message(self, *args):
                pass

        self.server = self._make_server((host, port), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self._thread = threading.Thread(target=self.server.serve_forever,
                                         kwargs={"poll_interval": 0.1},
                                         name=type(self).__name__, daemon=True)
        self._thread.start()

    def _make_server(self, address, handler):
        return http.server.ThreadingHTTPServer(address, handler)

    def url(self, path="/"):
        return f"http://127.0.0.1:{self.port}{path}"

    def route(self, path, response):
        """Serves response (a Response, or a function of the Request) at path."""
        self._routes[path] = response

    def page(self, path, html):
        self.route(path, Response(body=html.encode("utf-8")))
        return self.url(path)

    def requests(self, path=None):
        with self._cond:
            return [r for r in self._requests
                    if path is None or r.path.split("?", 1)[0] == path]

    def wait_for_request(self, path, timeout=DEFAULT_TIMEOUT, after=0.0, alive=None):
        """The first request for path made at or after time after. path
        matches without the query unless it has one itself. alive: a
        function that tells whether the client still runs; the wait fails as
        soon as it says no."""
        def matches(request):
            return request.path == path if "?" in path else request.path.split("?", 1)[0] == path
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for request in self._requests:
                    if matches(request) and request.t >= after:
                        return request
                left = deadline - time.monotonic()
                if left <= 0 or (alive is not None and not alive()):
                    seen = [r.path for r in self._requests]
                    raise WaitTimeout(f"no request for {path} within {timeout:.1f} s "
                                      f"(requests: {seen})")
                self._cond.wait(min(left, 0.5))

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self._thread.join(timeout=5)


class LateServer:
    """A server on a port reserved now, where nothing answers (connections
    are refused) until start(); it serves the routes of routes_from (a
    vkxtest HttpServer) and records its requests there."""

    def __init__(self, routes_from):
        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), routes_from.server.RequestHandlerClass, bind_and_activate=False)
        self.server.daemon_threads = True
        self.server.server_bind()  # bound, not listening
        self.port = self.server.server_address[1]
        self.thread = None
        self.started_at = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def start(self):
        self.started_at = time.monotonic()
        self.server.server_activate()
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()

    def stop(self):
        if self.thread:
            self.server.shutdown()
            self.thread.join(timeout=5)
        self.server.server_close()


def solid_page(rgb, title=None, body=""):
    """HTML for a page that is one colour edge to edge."""
    head = f"<title>{title}</title>" if title else ""
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'>" + head +
            "<style>html,body{margin:0;height:100%;overflow:hidden;"
            f"background:rgb{tuple(rgb)}}}</style></head><body>{body}</body></html>")


class HttpsServer(HttpServer):
    """HttpServer over TLS: chain_file holds the server certificate first,
    then any intermediates (PEM). It listens on host and port (0: a free
    one); url() names the server by hostname. The handshake runs in the
    connection's own thread, and each one that fails is kept in
    handshake_failures, so a test can tell a client that refused the
    certificate from one that never came."""

    def __init__(self, chain_file, key_file, hostname="localhost", host="127.0.0.1", port=0,
                 client_ca=None, client_required=False):
        """client_ca: ask clients for a certificate issued by it (a PEM file);
        client_required: refuse a client without one."""
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(chain_file, key_file)
        if client_ca:
            self._context.load_verify_locations(client_ca)
            self._context.verify_mode = ssl.CERT_REQUIRED if client_required else ssl.CERT_OPTIONAL
        self.hostname = hostname
        self.handshake_failures = []
        super().__init__(host, port)

    def _make_server(self, address, handler):
        context = self._context
        outer = self

        class TlsHandler(handler):
            def setup(self):
                self.request.settimeout(DEFAULT_TIMEOUT)
                try:
                    self.request.do_handshake()
                except (ssl.SSLError, OSError) as error:
                    with outer._cond:
                        outer.handshake_failures.append(str(error))
                        outer._cond.notify_all()
                    raise
                peer = self.request.getpeercert() or {}
                self.client_name = next((value for rdn in peer.get("subject", ())
                                         for name, value in rdn if name == "commonName"), "")
                super().setup()

        class TlsServer(http.server.ThreadingHTTPServer):
            def get_request(self):
                sock, address = self.socket.accept()
                return (context.wrap_socket(sock, server_side=True,
                                            do_handshake_on_connect=False), address)

            def handle_error(self, request, client_address):
                # A refused handshake is what some tests want to see.
                if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError,
                                                      TimeoutError)):
                    super().handle_error(request, client_address)

        return TlsServer(address, TlsHandler)

    def url(self, path="/"):
        port = "" if self.port == 443 else f":{self.port}"
        return f"https://{self.hostname}{port}{path}"

    def wait_for_handshake_failure(self, timeout=DEFAULT_TIMEOUT):
        """The first failed handshake's error text."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while not self.handshake_failures:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise WaitTimeout(f"no failed TLS handshake on port {self.port} "
                                      f"within {timeout:.1f} s")
                self._cond.wait(min(left, 0.5))
            return self.handshake_failures[0]
