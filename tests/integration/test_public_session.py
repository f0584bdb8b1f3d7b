"""A public terminal's idle return: with clearSessionOnIdle the next visitor
finds nothing of the last one; without it, everything stays."""

import base64
import os

import vkxtest
from vkxtest import Response
from test_client import ReportingTestCase, page
from test_cookies import cookie_header

PIXEL = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=")

# The visitor: a cookie from script and one HttpOnly from the server, both
# storages, an IndexedDB record, a Cache API entry, a service worker and a
# long-cached image; then two more pages.
VISIT = page("""<img src="/image.png"><script>
document.cookie = 'js=j1; max-age=3600';
localStorage.setItem('k', 'v');
sessionStorage.setItem('s', 'v');
const stored = new Promise(done => {
  const open = indexedDB.open('db', 1);
  open.onupgradeneeded = () => open.result.createObjectStore('st', {keyPath: 'id'});
  open.onsuccess = () => {
    const tx = open.result.transaction('st', 'readwrite');
    tx.objectStore('st').put({id: 1});
    tx.oncomplete = () => done(true);
  };
  open.onerror = () => done(false);
});
const cached = caches.open('c').then(c => c.put('/entry', new Response('x'))).then(() => true,
                                                                                     () => false);
const worker = navigator.serviceWorker ?
    navigator.serviceWorker.register('/sw.js').then(() => true, () => false) : false;
Promise.all([stored, cached, worker]).then(([idb, cache, sw]) => {
  report('visited', {idb, cache, sw});
  setTimeout(() => location.href = '/walk1', 300);
});
</script>""")
WALK1 = page("<script>setTimeout(() => location.href = '/walk2', 200)</script>")
# What the next visitor's start page finds.
CHECK = page("""<img src="/image.png"><script>
const idb = new Promise(done => {
  const open = indexedDB.open('db');
  open.onupgradeneeded = () => done(false);
  open.onsuccess = () => {
    if (!open.result.objectStoreNames.contains('st')) return done(false);
    const get = open.result.transaction('st').objectStore('st').get(1);
    get.onsuccess = () => done(!!get.result);
  };
});
const workers = navigator.serviceWorker ?
    navigator.serviceWorker.getRegistrations().then(r => r.length) : 0;
Promise.all([idb, caches.keys(), workers]).then(([idb, keys, sw]) => report('check', {
  cookie: document.cookie, local: localStorage.getItem('k'), session: sessionStorage.getItem('s'),
  idb, cache: keys.length, sw, history: history.length}));
</script>""")
FILE_COOKIE = "127.0.0.1\tFALSE\t/\tFALSE\t0\tfromfile\tf1\t\n"


class PublicSessionTest(ReportingTestCase):

    def run_visit(self, **config):
        """A visit and the idle return: (the visit's report, the start page's
        report, the Cookie header of the start page's request, image loads)."""
        starts = []
        self.http.route("/", lambda request: (starts.append(request), Response(
            body=(CHECK if len(starts) > 1 else page(
                "<script>location.href = '/visit'</script>")).encode()))[1])
        self.http.route("/visit", Response(body=VISIT.encode(), headers={
            "Set-Cookie": "http_only=h1; Max-Age=3600; HttpOnly"}))
        self.http.page("/walk1", WALK1)
        # The last page asks to stay and leaves a dialog open: a reset ends
        # both (without it, the plain return would wait on the dialog).
        self.http.page("/walk2", page(
            "<script>onbeforeunload = e => { e.preventDefault(); return 'stay'; };"
            " setTimeout(() => alert('left open'), 300)</script>walked"
            if config.get("clearSessionOnIdle") else "walked"))
        self.http.route("/sw.js", Response(body=b"", content_type="text/javascript"))
        self.http.route("/image.png", Response(body=PIXEL,
                                               content_type="image/png",
                                               headers={"Cache-Control": "max-age=86400"}))
        self.serve_reports("visited", "check")
        images = len(self.http.requests("/image.png"))
        kiosk = self.start_kiosk(dict(url=self.http.url("/"), enableToolbar="false",
                                      idleTimeout="6", **config))
        visited = self.wait_report("visited", timeout=20)
        returned = kiosk.wait_for_line(r"^Idle timeout: returning to the start page$", timeout=20)
        check = self.wait_report("check", timeout=10, after=returned.t - 1)
        kiosk.stop()
        return (visited, check, set(cookie_header(starts[-1])),
                len(self.http.requests("/image.png")) - images, returned)

    def test_nothing_of_the_last_visitor_stays(self):
        visited, check, cookies, images, _ = self.run_visit(clearSessionOnIdle="true")
        self.assertEqual(check, {"cookie": "", "local": None, "session": None, "idb": False,
                                 "cache": 0, "sw": 0, "history": 1}, visited)
        self.assertEqual(cookies, set())
        self.assertEqual(images, 2)

    def test_without_the_key_everything_stays(self):
        visited, check, cookies, images, _ = self.run_visit()
        self.assertIn("js=j1", check["cookie"])
        self.assertEqual((check["local"], check["session"], check["idb"], check["cache"]),
                         ("v", "v", visited["idb"], 1 if visited["cache"] else 0))
        self.assertEqual(check["sw"], 1 if visited["sw"] else 0)
        self.assertGreater(check["history"], 1)
        self.assertEqual(cookies, {"js", "http_only"})

    def test_the_cookie_files_cookies_come_back_and_the_file_never_changes(self):
        cookie_file = os.path.join(self.workdir, "public-cookies.txt")
        with open(cookie_file, "w", encoding="utf-8") as out:
            out.write(FILE_COOKIE)
        os.chmod(cookie_file, 0o600)
        before = os.stat(cookie_file)
        _, check, cookies, _, _ = self.run_visit(clearSessionOnIdle="true", cacheCookies="true",
                                                 cookieFile=cookie_file)
        self.assertEqual(cookies, {"fromfile"})
        self.assertEqual(check["cookie"], "fromfile=f1")
        after = os.stat(cookie_file)
        with open(cookie_file, encoding="utf-8") as saved:
            self.assertEqual(saved.read(), FILE_COOKIE)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))


if __name__ == "__main__":
    vkxtest.main()
