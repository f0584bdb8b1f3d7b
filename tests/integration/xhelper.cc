// Small Xlib tool for the integration tests: plays the window manager and
// records what clients ask of it, sends window-manager style messages,
// drives focus and keys where xdotool cannot do it without a race, and acts
// as another program's client: owning a selection, dragging data onto a
// window.
//
// Every report is one JSON object a line on standard output, flushed as it
// is written, with "t" the CLOCK_MONOTONIC time in seconds (the clock that
// Python's time.monotonic() reads).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

int Usage();

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Errors are counted, not fatal: windows of other clients may vanish at any
// time, and atom look-ups probe numbers that may not be atoms.
int lastErrorCode = 0;
int CountingErrorHandler(Display* /*display*/, XErrorEvent* event) {
  lastErrorCode = event->error_code;
  return 0;
}

std::string Hex(unsigned long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void Emit(const std::string& body) {
  std::printf("{\"t\": %.6f, %s}\n", Now(), body.c_str());
  std::fflush(stdout);
}

// The atom's name, or "" when the number is no atom on this server.
std::string AtomName(Display* display, unsigned long atom) {
  if (atom == 0) return "";
  lastErrorCode = 0;
  char* name = XGetAtomName(display, static_cast<Atom>(atom));
  if (name == nullptr || lastErrorCode != 0) {
    if (name != nullptr) XFree(name);
    return "";
  }
  std::string result = name;
  XFree(name);
  return result;
}

std::string AtomJson(Display* display, unsigned long atom) {
  const std::string name = AtomName(display, atom);
  return name.empty() ? "null" : JsonString(name);
}

bool ParseWindow(const char* text, Window& window) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || value == 0) return false;
  window = static_cast<Window>(value);
  return true;
}

bool ParseSeconds(const char* text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && seconds >= 0;
}

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr OpenDisplay() {
  DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "xhelper: cannot open display\n");
    std::exit(1);
  }
  XSetErrorHandler(CountingErrorHandler);
  return display;
}

// Waits for X events until the deadline or a stop signal; false when it ended.
bool NextEvent(Display* display, double deadline, XEvent& event) {
  for (;;) {
    if (stopRequested) return false;
    if (XPending(display) > 0) {
      XNextEvent(display, &event);
      return true;
    }
    const double left = deadline - Now();
    if (left <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    const int ms = left > 0.1 ? 100 : static_cast<int>(left * 1000) + 1;
    poll(&fd, 1, ms);
  }
}

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = [](int) { stopRequested = 1; };
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

std::string ClientMessageJson(Display* display, const XClientMessageEvent& message) {
  std::string data = "[";
  std::string atoms = "[";
  for (int i = 0; i < 5; ++i) {
    if (i > 0) {
      data += ", ";
      atoms += ", ";
    }
    if (message.format == 32) {
      data += std::to_string(message.data.l[i]);
      atoms += AtomJson(display, static_cast<unsigned long>(message.data.l[i]));
    } else {
      data += std::to_string(message.format == 16 ? message.data.s[i] : message.data.b[i]);
      atoms += "null";
    }
  }
  data += "]";
  atoms += "]";
  return "\"event\": \"ClientMessage\", \"window\": " + JsonString(Hex(message.window)) +
         ", \"type\": " + AtomJson(display, message.message_type) +
         ", \"format\": " + std::to_string(message.format) + ", \"data\": " + data +
         ", \"atoms\": " + atoms;
}

// wm-record SECONDS: becomes the window manager of the screen, lets every
// window map and configure as it asks, and reports those requests and every
// client message sent to the root window.
int WmRecord(double seconds) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  const Window root = DefaultRootWindow(display);
  lastErrorCode = 0;
  XSelectInput(display, root, SubstructureRedirectMask | SubstructureNotifyMask);
  XSync(display, False);
  if (lastErrorCode != 0) {
    std::fprintf(stderr, "xhelper: another window manager is running\n");
    return 2;
  }
  InstallStopHandlers();
  Emit("\"event\": \"ready\"");
  const double deadline = Now() + seconds;
  XEvent event;
  while (NextEvent(display, deadline, event)) {
    switch (event.type) {
      case MapRequest:
        XMapWindow(display, event.xmaprequest.window);
        Emit("\"event\": \"MapRequest\", \"window\": " + JsonString(Hex(event.xmaprequest.window)));
        break;
      case ConfigureRequest: {
        const XConfigureRequestEvent& request = event.xconfigurerequest;
        XWindowChanges changes{};
        changes.x = request.x;
        changes.y = request.y;
        changes.width = request.width;
        changes.height = request.height;
        changes.border_width = request.border_width;
        changes.sibling = request.above;
        changes.stack_mode = request.detail;
        XConfigureWindow(display, request.window, static_cast<unsigned>(request.value_mask),
                         &changes);
        Emit("\"event\": \"ConfigureRequest\", \"window\": " + JsonString(Hex(request.window)) +
             ", \"x\": " + std::to_string(request.x) + ", \"y\": " + std::to_string(request.y) +
             ", \"width\": " + std::to_string(request.width) +
             ", \"height\": " + std::to_string(request.height) +
             ", \"value_mask\": " + std::to_string(request.value_mask));
        break;
      }
      case CirculateRequest:
        XCirculateSubwindows(display, event.xcirculaterequest.parent,
                             event.xcirculaterequest.place == PlaceOnTop ? RaiseLowest
                                                                         : LowerHighest);
        break;
      case ClientMessage:
        Emit(ClientMessageJson(display, event.xclient));
        break;
      default:
        break;
    }
    XFlush(display);
  }
  Emit("\"event\": \"end\"");
  return 0;
}

// Sends a format-32 client message; false (and a line on stderr) when the
// window is not there. To the root window it goes as window managers expect
// requests; to any other window, to the client that made it.
bool SendMessage(Display* display, Window window, Atom type, const std::vector<long>& data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  for (size_t i = 0; i < data.size() && i < 5; ++i) event.xclient.data.l[i] = data[i];
  const long mask = window == DefaultRootWindow(display)
                        ? SubstructureRedirectMask | SubstructureNotifyMask
                        : NoEventMask;
  lastErrorCode = 0;
  XSendEvent(display, window, False, mask, &event);
  XSync(display, False);
  if (lastErrorCode != 0) {
    std::fprintf(stderr, "xhelper: cannot send to window %s\n", Hex(window).c_str());
    return false;
  }
  return true;
}

// message WINDOW|root TYPE [DATA...]: a format-32 client message of type
// TYPE (an atom name) with up to five longs (numbers or atom names).
// close WINDOW is the message a window manager's close button sends.
int Message(const char* target, const char* type, const std::vector<std::string>& data) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  Window window = DefaultRootWindow(display);
  if (std::strcmp(target, "root") != 0 && !ParseWindow(target, window)) return Usage();
  std::vector<long> longs;
  for (const std::string& item : data) {
    char* end = nullptr;
    const long number = std::strtol(item.c_str(), &end, 0);
    longs.push_back(end != item.c_str() && *end == '\0'
                        ? number
                        : static_cast<long>(XInternAtom(display, item.c_str(), False)));
  }
  return SendMessage(display, window, XInternAtom(display, type, False), longs) ? 0 : 1;
}

// What another program's client offers: its data in each type.
struct Offer {
  std::string type;
  Atom atom;
  std::string data;
};

// TYPE DATA pairs from the command line.
std::vector<Offer> ParseOffers(Display* display, int count, char** args) {
  std::vector<Offer> offers;
  for (int i = 0; i + 1 < count; i += 2) {
    offers.push_back({args[i], XInternAtom(display, args[i], False), args[i + 1]});
  }
  return offers;
}

// Answers a request for a selection this client owns: the list of types
// (TARGETS), or the data in one of the offered types, reported as
// "served"; any other type is refused.
void ServeSelection(Display* display, const XSelectionRequestEvent& request,
                    const std::vector<Offer>& offers) {
  const Atom targets = XInternAtom(display, "TARGETS", False);
  Atom property = request.property;
  const auto offer = std::find_if(offers.begin(), offers.end(),
                                  [&](const Offer& o) { return o.atom == request.target; });
  if (request.target == targets) {
    std::vector<long> atoms{static_cast<long>(targets)};
    for (const Offer& o : offers) atoms.push_back(static_cast<long>(o.atom));
    XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()),
                    static_cast<int>(atoms.size()));
  } else if (offer != offers.end()) {
    Emit("\"event\": \"served\", \"target\": " + JsonString(offer->type));
    XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(offer->data.data()),
                    static_cast<int>(offer->data.size()));
  } else {
    property = None;
  }
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.property = property;
  reply.xselection.time = request.time;
  XSendEvent(display, request.requestor, False, NoEventMask, &reply);
  XFlush(display);
}

// Serves requests for the offered data until a client message of type
// wanted comes (true, with it in message) or the deadline passes.
bool Serve(Display* display, double deadline, const std::vector<Offer>& offers, Atom wanted,
           XClientMessageEvent* message) {
  XEvent event;
  while (NextEvent(display, deadline, event)) {
    if (event.type == SelectionRequest) {
      ServeSelection(display, event.xselectionrequest, offers);
    } else if (event.type == ClientMessage && wanted != None &&
               event.xclient.message_type == wanted) {
      *message = event.xclient;
      return true;
    }
  }
  return false;
}

// A window of our own that owns selection; 0 when it could not.
Window OwnSelection(Display* display, const char* selection) {
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  const Atom atom = XInternAtom(display, selection, False);
  XSetSelectionOwner(display, atom, window, CurrentTime);
  if (XGetSelectionOwner(display, atom) != window) {
    std::fprintf(stderr, "xhelper: cannot own the selection %s\n", selection);
    return 0;
  }
  return window;
}

// own SELECTION SECONDS TYPE DATA...: another program's client that owns
// SELECTION (such as CLIPBOARD) and hands out DATA in each TYPE to whoever
// asks, until the deadline or a stop signal.
int Own(const char* selection, double seconds, int count, char** args) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  const std::vector<Offer> offers = ParseOffers(display, count, args);
  if (OwnSelection(display, selection) == 0) return 1;
  InstallStopHandlers();
  Emit("\"event\": \"ready\"");
  Serve(display, Now() + seconds, offers, None, nullptr);
  Emit("\"event\": \"end\"");
  return 0;
}

std::string LongsJson(const XClientMessageEvent& message) {
  std::string text = "[";
  for (int i = 0; i < 5; ++i) text += (i > 0 ? ", " : "") + std::to_string(message.data.l[i]);
  return text + "]";
}

// drop WINDOW X Y TYPE DATA...: another program's client drags DATA
// (offered in each TYPE, the first three announced) onto WINDOW at root
// point (X, Y) the XDND way and drops it there even when WINDOW does not
// accept it, as a careless source might. Reports the data of WINDOW's
// XdndStatus and XdndFinished, null for one that did not come within 3 s.
int Drop(Window target, long x, long y, int count, char** args) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  const std::vector<Offer> offers = ParseOffers(display, count, args);
  const Window window = OwnSelection(display, "XdndSelection");
  if (window == 0) return 1;
  const long source = static_cast<long>(window);
  std::vector<long> enter{source, 5L << 24, 0, 0, 0};
  for (size_t i = 0; i < offers.size() && i < 3; ++i) {
    enter[i + 2] = static_cast<long>(offers[i].atom);
  }
  auto atom = [&](const char* name) { return XInternAtom(display, name, False); };
  if (!SendMessage(display, target, atom("XdndEnter"), enter)) return 1;
  SendMessage(display, target, atom("XdndPosition"),
              {source, 0, (x << 16) | y, 0, static_cast<long>(atom("XdndActionCopy"))});
  XClientMessageEvent status{}, finished{};
  const bool answered = Serve(display, Now() + 3, offers, atom("XdndStatus"), &status);
  SendMessage(display, target, atom("XdndDrop"), {source, 0, 0});
  const bool done = Serve(display, Now() + 3, offers, atom("XdndFinished"), &finished);
  if (!done) SendMessage(display, target, atom("XdndLeave"), {source, 0});
  Emit(std::string("\"event\": \"drop\", \"status\": ") +
       (answered ? LongsJson(status) : "null") +
       ", \"finished\": " + (done ? LongsJson(finished) : "null"));
  return 0;
}

// "ctrl+c" -> key codes to press in order (and release in reverse).
bool ParseCombo(Display* display, const std::string& combo, std::vector<KeyCode>& codes) {
  size_t start = 0;
  while (start <= combo.size()) {
    size_t end = combo.find('+', start);
    if (end == std::string::npos) end = combo.size();
    std::string name = combo.substr(start, end - start);
    if (name == "ctrl") name = "Control_L";
    if (name == "alt") name = "Alt_L";
    if (name == "shift") name = "Shift_L";
    if (name == "super") name = "Super_L";
    const KeySym keysym = XStringToKeysym(name.c_str());
    const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
    if (code == 0) {
      std::fprintf(stderr, "xhelper: unknown key %s\n", name.c_str());
      return false;
    }
    codes.push_back(code);
    start = end + 1;
  }
  return !codes.empty();
}

// focus-keys WINDOW COMBO...: gives WINDOW the input focus and types the key
// combinations while the server is grabbed, so no other client (such as one
// that passes its focus on at once) can move the focus before the keys land.
int FocusKeys(Window window, int count, char** combos) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
    std::fprintf(stderr, "xhelper: no XTEST extension\n");
    return 1;
  }
  std::vector<std::vector<KeyCode>> sequences;
  for (int i = 0; i < count; ++i) {
    std::vector<KeyCode> codes;
    if (!ParseCombo(display, combos[i], codes)) return 1;
    sequences.push_back(codes);
  }
  XGrabServer(display);
  lastErrorCode = 0;
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XSync(display, False);
  if (lastErrorCode != 0) {
    XUngrabServer(display);
      std::fprintf(stderr, "xhelper: cannot focus window %s\n", Hex(window).c_str());
    return 1;
  }
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  for (const auto& codes : sequences) {
    for (KeyCode code : codes) XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
      XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
  }
  XSync(display, False);
  XUngrabServer(display);
  XSync(display, False);
  Emit("\"event\": \"keys-sent\", \"focus\": " + JsonString(Hex(focus)));
  return 0;
}

// watch WINDOW SECONDS: the window's geometry now, then every change of it
// and every map and unmap, until the deadline or the window's end.
int Watch(Window window, double seconds) {
  const DisplayPtr connection = OpenDisplay();
  Display* display = connection.get();
  InstallStopHandlers();
  lastErrorCode = 0;
  XSelectInput(display, window, StructureNotifyMask);
  XWindowAttributes attributes{};
  const Status ok = XGetWindowAttributes(display, window, &attributes);
  XSync(display, False);
  if (ok == 0 || lastErrorCode != 0) {
    std::fprintf(stderr, "xhelper: no window %s\n", Hex(window).c_str());
    return 1;
  }
  auto geometry = [](int x, int y, int width, int height) {
    return ", \"x\": " + std::to_string(x) + ", \"y\": " + std::to_string(y) +
           ", \"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height);
  };
  Emit("\"event\": \"geometry\", \"window\": " + JsonString(Hex(window)) +
       geometry(attributes.x, attributes.y, attributes.width, attributes.height));
  const double deadline = Now() + seconds;
  XEvent event;
  while (NextEvent(display, deadline, event)) {
    if (event.type == ConfigureNotify && event.xconfigure.window == window) {
      const XConfigureEvent& c = event.xconfigure;
      Emit("\"event\": \"ConfigureNotify\", \"window\": " + JsonString(Hex(window)) +
           geometry(c.x, c.y, c.width, c.height));
    } else if ((event.type == MapNotify && event.xmap.window == window) ||
               (event.type == UnmapNotify && event.xunmap.window == window)) {
      Emit(std::string("\"event\": \"") + (event.type == MapNotify ? "MapNotify" : "UnmapNotify") +
           "\", \"window\": " + JsonString(Hex(window)));
    } else if (event.type == DestroyNotify && event.xdestroywindow.window == window) {
      Emit("\"event\": \"DestroyNotify\", \"window\": " + JsonString(Hex(window)));
      break;
    }
  }
  Emit("\"event\": \"end\"");
  return 0;
}

// cursor: the pointer's image as the server shows it now: its size and the
// sum of its pixels' alpha (0: nothing is visible).
int CursorImage() {
  const DisplayPtr connection = OpenDisplay();
  XFixesCursorImage* image = XFixesGetCursorImage(connection.get());
  if (image == nullptr) {
    std::fprintf(stderr, "xhelper: no cursor image\n");
    return 1;
  }
  unsigned long alpha = 0;
  const size_t pixels = static_cast<size_t>(image->width) * image->height;
  for (size_t i = 0; i < pixels; ++i) alpha += (image->pixels[i] >> 24) & 0xff;
  Emit("\"width\": " + std::to_string(image->width) + ", \"height\": " +
       std::to_string(image->height) + ", \"alpha\": " + std::to_string(alpha));
  XFree(image);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: xhelper wm-record SECONDS\n"
               "       xhelper close WINDOW\n"
               "       xhelper message WINDOW|root TYPE [DATA...]\n"
               "       xhelper focus-keys WINDOW COMBO...   (e.g. ctrl+c)\n"
               "       xhelper watch WINDOW SECONDS\n"
               "       xhelper own SELECTION SECONDS TYPE DATA [TYPE DATA...]\n"
               "       xhelper drop WINDOW X Y TYPE DATA [TYPE DATA...]\n"
               "       xhelper cursor\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  Window window = 0;
  double seconds = 0;
  if (command == "wm-record" && argc == 3 && ParseSeconds(argv[2], seconds)) {
    return WmRecord(seconds);
  }
  if (command == "close" && argc == 3 && ParseWindow(argv[2], window)) {
    return Message(argv[2], "WM_PROTOCOLS", {"WM_DELETE_WINDOW", "0"});
  }
  if (command == "message" && argc >= 4 && argc <= 9) {
    return Message(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
  }
  if (command == "focus-keys" && argc >= 4 && ParseWindow(argv[2], window)) {
    return FocusKeys(window, argc - 3, argv + 3);
  }
  if (command == "watch" && argc == 4 && ParseWindow(argv[2], window) &&
      ParseSeconds(argv[3], seconds)) {
    return Watch(window, seconds);
  }
  if (command == "own" && argc >= 6 && argc % 2 == 0 && ParseSeconds(argv[3], seconds)) {
    return Own(argv[2], seconds, argc - 4, argv + 4);
  }
  if (command == "cursor" && argc == 2) return CursorImage();
  char* end = nullptr;
  if (command == "drop" && argc >= 7 && argc % 2 == 1 && ParseWindow(argv[2], window)) {
    const long x = std::strtol(argv[3], &end, 10);
    const bool xOk = *end == '\0' && end != argv[3];
    const long y = std::strtol(argv[4], &end, 10);
    if (xOk && *end == '\0' && end != argv[4]) return Drop(window, x, y, argc - 5, argv + 5);
  }
  return Usage();
}
