"""Runs the real vkxbrowser binary under Xvfb (optionally with a window
manager), serves it pages from a local HTTP server that records every
request, and looks at the result through the X tools (xwininfo, xprop,
xdotool, import) and the small Xlib helper built beside the tests.

Python standard library only. Every wait has a timeout, and everything a
test starts is stopped by PID: a test ends its own processes and nothing else.
The benchmarks in bench/ use the process, X server and HTTP parts too.

  waiting       wait_until, WaitTimeout, DEFAULT_TIMEOUT
  processes     ManagedProcess (lines with time stamps), /proc, reaping
  xdisplay      Xvfb, WindowManager, XDisplay (the X tools on one display)
  xhelper       XHelper and the long-running helper processes
  web           HttpServer, HttpsServer, LateServer, Response
  certificates  CertificateAuthority, PrivateSystemFiles
  kiosk         Kiosk, KioskTestCase, PrivateFilesTestCase

Environment:
  VKX_BINARY   the kiosk binary (CTest sets it to the vkxbrowser target)
  VKX_XHELPER  the Xlib helper (CTest sets it to the xhelper target)
"""

from .certificates import CertificateAuthority, PrivateSystemFiles
from .kiosk import (CONFIG_HEADER, Kiosk, KioskTestCase, PrivateFilesTestCase, kiosk_binary,
                    main, printed_configuration, wait_for_nth_line, wait_for_page)
from .processes import (Line, ManagedProcess, ProcInfo, become_subreaper, children_of,
                        clean_environment, descendants_of, read_proc, reap_orphans,
                        unkilled_helpers, wait_orphans)
from .waiting import DEFAULT_TIMEOUT, WaitTimeout, wait_until
from .web import HttpServer, HttpsServer, LateServer, Request, Response, solid_page
from .xdisplay import (ICON_MASK_HINT, ICON_PIXMAP_HINT, SCREEN_HEIGHT, SCREEN_WIDTH, Geometry,
                       Image, WindowManager, XDisplay, Xvfb, click_at)
from .xhelper import XHelper
