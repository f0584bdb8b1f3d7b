"""Self-healing of an unattended kiosk: a crashed or hung renderer is
replaced and its page reloaded, and a start page that failed to load (server
away, or answering 503) is tried again with growing delays, in the same
kiosk process.

Timings are asserted loosely: other tests load the machine at the same time."""

import os
import re
import signal
import socket
import threading
import time

import vkxtest
from vkxtest import KioskTestCase, LateServer, Response, descendants_of, read_proc, wait_until

PAGE_LOADED = r"^Page loaded, status code: 200$"
HEALTHY = "<!DOCTYPE html><html><head><title>healthy</title></head><body>ok</body></html>"


def renderers(kiosk):
    """The kiosk's live web (renderer) processes: below its PID, in the
    engine's sandbox or not."""
    return [info for info in descendants_of(kiosk.pid) if info.comm.startswith("WebKitWebProc")]


def wait_for_renderer(kiosk, other_than=(), timeout=15.0):
    """The kiosk's one renderer once there is one not in other_than (PIDs)."""
    def look():
        fresh = [info for info in renderers(kiosk) if info.pid not in other_than]
        return fresh[0] if len(fresh) == 1 else None
    return wait_until(look, timeout, what="the kiosk's renderer process")


def gone(info):
    """True when the process info names has ended (or is a zombie)."""
    now = read_proc(info.pid)
    return now is None or now.start != info.start or now.state == "Z"


def loaded_lines(kiosk):
    return [line for line in kiosk.timed_lines() if re.search(PAGE_LOADED, line.text)]


class RendererRecoveryTest(KioskTestCase):

    def assert_same_kiosk(self, kiosk):
        # Recovered in place: the process never started over.
        self.assertTrue(kiosk.alive(), kiosk.describe())
        self.assertEqual(kiosk.lines().count(vkxtest.CONFIG_HEADER), 1, kiosk.describe())

    def test_crashed_renderer_is_reloaded_with_growing_delays(self):
        url = self.http.page("/crash", HEALTHY)
        kiosk = self.start_kiosk({"url": url})
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        renderer = wait_for_renderer(kiosk)
        err_start = 0
        # The first crash reloads at once, each further one within a minute waits longer.
        for delay_ms in (0, 1000, 2000):
            loads_before = len(loaded_lines(kiosk))
            killed_at = time.monotonic()
            os.kill(renderer.pid, signal.SIGKILL)
            line = kiosk.wait_for_line(
                rf"^Renderer process crashed: reloading {re.escape(url)} in (\d+) ms$",
                stream="stderr", start=err_start)
            err_start = line.index + 1
            self.assertEqual(int(line.match.group(1)), delay_ms, kiosk.describe())
            request = self.http.wait_for_request("/crash", after=killed_at,
                                                 timeout=delay_ms / 1000 + 15)
            waited = request.t - killed_at
            self.assertGreaterEqual(waited, delay_ms / 1000 - 0.05, kiosk.describe())
            self.assertLess(waited, delay_ms / 1000 + 8, kiosk.describe())
            wait_until(lambda: len(loaded_lines(kiosk)) > loads_before, 15,
                       what="the page loaded again")
            self.assertTrue(gone(renderer), f"renderer {renderer.pid} still runs")
            renderer = wait_for_renderer(kiosk, other_than={renderer.pid})
            # Started again in the engine's sandbox.
            self.assertNotEqual(*(os.readlink(f"/proc/{pid}/ns/pid")
                                  for pid in (kiosk.pid, renderer.pid)))
        self.assert_same_kiosk(kiosk)
        self.assertEqual(len(self.http.requests("/crash")), 4)
        self.assertFalse([text for text in kiosk.lines("stderr") if "not responding" in text])

    def test_hung_page_has_its_renderer_ended_and_is_reloaded(self):
        # First visit: a stall shorter than the grace period, which must be
        # forgiven, then a busy loop that never ends. Later visits are healthy.
        hung_page = """<!DOCTYPE html><html><body><script>
            function spin(ms) { const end = Date.now() + ms; while (Date.now() < end) {} }
            setTimeout(() => {
              spin(5000);
              fetch('/stalled-once').then(() => setTimeout(() => { while (true) {} }, 1000));
            }, 300);
            </script></body></html>"""
        visits = []

        def serve(request):
            visits.append(request.t)
            return Response(body=(hung_page if len(visits) == 1 else HEALTHY).encode())
        self.http.route("/hung", serve)
        self.http.route("/stalled-once", Response(body=b"", content_type="text/plain"))
        url = self.http.url("/hung")
        kiosk = self.start_kiosk({"url": url})
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        busy = wait_for_renderer(kiosk)

        # The forever loop starts one second after this request.
        stalled = self.http.wait_for_request("/stalled-once", timeout=20)
        ended = kiosk.wait_for_line(r"^Page not responding: ending its renderer$",
                                    stream="stderr", timeout=30)
        # Ping interval (2 s) plus grace (8 s) after the loop started; had
        # the first stall not been forgiven, it would come about 6 s after.
        hung_for = ended.t - (stalled.t + 1.0)
        self.assertGreaterEqual(hung_for, 8.0, kiosk.describe())
        self.assertLess(hung_for, 20.0, kiosk.describe())

        reloading = kiosk.wait_for_line(
            rf"^Renderer process (?:was ended|crashed): reloading {re.escape(url)} in 0 ms$",
            stream="stderr", start=ended.index + 1, timeout=10)
        self.assertIn("was ended", reloading.text)
        wait_until(lambda: len(visits) >= 2, 15, what="the page requested again")
        wait_until(lambda: len(loaded_lines(kiosk)) >= 2, 15, what="the page loaded again")
        wait_until(lambda: gone(busy), 10, what=f"the hung renderer {busy.pid} to end")
        wait_for_renderer(kiosk, other_than={busy.pid})
        self.assert_same_kiosk(kiosk)
        self.assertEqual(
            [text for text in kiosk.lines("stderr") if "not responding" in text],
            ["Page not responding: ending its renderer"])


class LoadRetryTest(KioskTestCase):

    def retries(self, kiosk, url, why):
        pattern = re.compile(rf"^Load of {re.escape(url)} failed \({why}\): "
                             r"trying again in (\d+) ms$")
        return [(line, int(match.group(1))) for line in kiosk.timed_lines("stderr")
                for match in [pattern.search(line.text)] if match]

    def assert_spaced(self, retries, kiosk):
        # Each retry line comes after the previous one's delay.
        for (before, delay_ms), (after, _) in zip(retries, retries[1:]):
            gap = after.t - before.t
            self.assertGreaterEqual(gap, delay_ms / 1000 - 0.05, kiosk.describe())
            self.assertLess(gap, delay_ms / 1000 + 5, kiosk.describe())

    def test_start_page_shown_once_its_server_comes_up(self):
        self.http.page("/late", HEALTHY)
        late = LateServer(self.http)
        self.addCleanup(late.stop)
        url = late.url("/late")
        kiosk = self.start_kiosk({"url": url})
        first = kiosk.wait_for_line(rf"^Load of {re.escape(url)} failed \(.*, error -102\): "
                                    r"trying again in 1000 ms$", stream="stderr", timeout=30)
        # Up 5 s after the first failure: between the retries after 1 + 2 s
        # and after 1 + 2 + 4 s, with two seconds to spare either way.
        timer = threading.Timer(max(0.0, first.t + 5 - time.monotonic()), late.start)
        timer.start()
        self.addCleanup(timer.cancel)

        loaded = kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        self.assertIsNotNone(late.started_at, "the page loaded before its server was up")
        self.assertGreater(loaded.t, late.started_at)
        retries = self.retries(kiosk, url, r".*, error -102")
        self.assertEqual([delay for _, delay in retries], [1000, 2000, 4000], kiosk.describe())
        self.assert_spaced(retries, kiosk)
        # Shown by the retry after the server came up, not by a restart.
        first_request = self.http.wait_for_request("/late", timeout=1)
        self.assertLess(loaded.t - first_request.t, 5, kiosk.describe())
        self.assertGreaterEqual(loaded.t, retries[-1][0].t + 4 - 0.05)
        self.assertEqual(kiosk.lines().count(vkxtest.CONFIG_HEADER), 1)
        self.assertTrue(kiosk.alive(), kiosk.describe())
        self.assertEqual(len(self.http.requests("/late")), 1)

    def test_server_busy_is_retried_until_it_answers(self):
        answers = []

        def serve(request):
            answers.append(503 if len(answers) < 3 else 200)
            return Response(status=answers[-1], body=HEALTHY.encode())
        self.http.route("/busy", serve)
        url = self.http.url("/busy")
        kiosk = self.start_kiosk({"url": url})
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        retries = self.retries(kiosk, url, "server answered 503")
        self.assertEqual([delay for _, delay in retries], [1000, 2000, 4000], kiosk.describe())
        self.assert_spaced(retries, kiosk)
        self.assertEqual(answers, [503, 503, 503, 200])
        self.assertTrue(kiosk.alive(), kiosk.describe())

    def test_page_that_is_not_there_is_not_retried(self):
        # A 404 is an answer, not an outage.
        url = self.http.url("/missing")
        kiosk = self.start_kiosk({"url": url})
        kiosk.wait_for_line(r"^Page loaded, status code: 404$", timeout=30)
        time.sleep(2.0)  # a retry would come after one second
        self.assertEqual(self.retries(kiosk, url, ".*"), [])
        self.assertEqual(len(self.http.requests("/missing")), 1)



class NotifySocket:
    """A service manager's notify socket: collects what the kiosk sends."""

    def __init__(self, path):
        self.path = path
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        self.sock.settimeout(0.2)
        self.messages = []  # (monotonic time, text)
        self._running = True
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        while self._running:
            try:
                data = self.sock.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            now = time.monotonic()
            self.messages.extend((now, line) for line in data.decode().split("\n") if line)

    def wait_for(self, text, timeout=20.0):
        return wait_until(lambda: [t for t, m in self.messages if m == text], timeout,
                          what=f"{text!r} on the notify socket")

    def stop(self):
        self._running = False
        self._thread.join(timeout=2)
        self.sock.close()


class ServiceManagerTest(KioskTestCase):
    """Under systemd (NOTIFY_SOCKET set): ready once the page has loaded, the
    page as status, watchdog pings every half of WATCHDOG_USEC, and stopping
    when the kiosk begins to end."""

    def test_ready_status_watchdog_and_stopping(self):
        notify = NotifySocket(os.path.join(self.workdir, "notify"))
        self.addCleanup(notify.stop)
        url = self.http.page("/service", HEALTHY)
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "true", "enableAutoHide": "false"},
                                 env={"NOTIFY_SOCKET": notify.path, "WATCHDOG_USEC": "2000000"})
        kiosk.wait_for_line(PAGE_LOADED, timeout=30)
        notify.wait_for("READY=1")
        notify.wait_for(f"STATUS={url}")
        time.sleep(3.5)
        pings = [t for t, m in notify.messages if m == "WATCHDOG=1"]
        self.assertGreaterEqual(len(pings), 3, notify.messages)
        self.assertLess(max(b - a for a, b in zip(pings, pings[1:])), 1.5, notify.messages)
        self.assertEqual([m for _, m in notify.messages].count("READY=1"), 1)
        # "Quit" is the toolbar's last button, at the right end of its 40-pixel strip.
        host = self.x.geometry(self.x.find_host_window())
        self.x.click(host.abs_x + host.width - 25, host.abs_y + 20)
        notify.wait_for("STOPPING=1")
        self.assertEqual(kiosk.wait_exit(10), -9, kiosk.describe())

    def test_pings_stop_once_the_page_cannot_be_brought_back(self):
        notify = NotifySocket(os.path.join(self.workdir, "notify"))
        self.addCleanup(notify.stop)
        server = vkxtest.HttpServer()
        self.addCleanup(server.stop)
        # Neither cached nor kept alive: a reload must reach the server.
        server.route("/gone", Response(body=HEALTHY.encode(), headers={"Cache-Control": "no-store",
                                                                       "Connection": "close"}))
        url = server.url("/gone")
        kiosk = self.start_kiosk({"url": url, "enableToolbar": "false"},
                                 env={"NOTIFY_SOCKET": notify.path, "WATCHDOG_USEC": "2000000"})
        notify.wait_for("READY=1", timeout=30)
        # The renderer dies while its server is away: every reload fails.
        server.stop()
        crashed_at = time.monotonic()
        os.kill(wait_for_renderer(kiosk).pid, signal.SIGKILL)
        kiosk.wait_for_line(r"^Renderer process crashed", stream="stderr")
        # Pinged on for the minute the kiosk's own recovery has, then no more.
        wait_until(lambda: time.monotonic() - crashed_at > 65, 70, interval=1.0)
        pings = [t for t, m in notify.messages if m == "WATCHDOG=1"]
        self.assertTrue([t for t in pings if 50 < t - crashed_at < 60], notify.messages)
        self.assertFalse([t for t in pings if t - crashed_at > 62], notify.messages)
        self.assertTrue(kiosk.alive(), kiosk.describe())


if __name__ == "__main__":
    vkxtest.main()
