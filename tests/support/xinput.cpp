#include "xinput.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>
#include <thread>

namespace zutest {

namespace {
// A window that vanishes between two requests must not abort the test process.
int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

std::string windowTitle(Display* dpy, Window w) {
    std::string title;
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
        title = name;
        XFree(name);
    }
    if (!title.empty()) return title;
    Atom netName = XInternAtom(dpy, "_NET_WM_NAME", True);
    Atom utf8 = XInternAtom(dpy, "UTF8_STRING", True);
    if (netName == None || utf8 == None) return title;
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
    }
    return title;
}

// _NET_WM_PID of w, or 0.
long windowPid(Display* dpy, Window w) {
    Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", True);
    if (pidAtom == None) return 0;
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (n == 1 && format == 32) pid = *reinterpret_cast<long*>(data);
        XFree(data);
    }
    return pid;
}

Window search(Display* dpy, Window w, const std::string& title, long pid) {
    XWindowAttributes a;
    if (windowTitle(dpy, w) == title && XGetWindowAttributes(dpy, w, &a) &&
        a.map_state == IsViewable && (pid == 0 || windowPid(dpy, w) == pid))
        return w;
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i)
        found = search(dpy, children[i], title, pid);
    if (children) XFree(children);
    return found;
}

void pause(int ms) {
    std::this_thread::sleep_for(Millis(ms));
}
} // namespace

XSession::XSession(const std::string& display) {
    XSetErrorHandler(ignoreXErrors);
    dpy_ = XOpenDisplay(display.c_str());
    if (!dpy_) throw std::runtime_error("cannot open display " + display);
    int ev, err, major, minor;
    if (!XTestQueryExtension(dpy_, &ev, &err, &major, &minor)) {
        XCloseDisplay(dpy_);
        dpy_ = nullptr;
        throw std::runtime_error("display " + display + " has no XTest");
    }
}

XSession::~XSession() {
    if (dpy_) XCloseDisplay(dpy_);
}

void XSession::flush() {
    XSync(dpy_, False);
}

Window XSession::findWindow(const std::string& title, long pid) {
    return search(dpy_, DefaultRootWindow(dpy_), title, pid);
}

Window XSession::waitForWindow(const std::string& title, Millis timeout, long pid) {
    Window found = 0;
    waitUntil([&] { return (found = findWindow(title, pid)) != 0; }, timeout, Millis(50),
              "a window");
    return found;
}

bool XSession::windowSize(Window w, int& width, int& height) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, w, &a)) return false;
    width = a.width;
    height = a.height;
    return true;
}

bool XSession::windowOrigin(Window w, int& x, int& y) {
    Window child;
    return XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
}

bool XSession::autoRepeatOn() {
    XKeyboardState s;
    XGetKeyboardControl(dpy_, &s);
    return s.global_auto_repeat == AutoRepeatModeOn;
}

void XSession::movePointer(Window w, int x, int y) {
    int ox = 0, oy = 0;
    windowOrigin(w, ox, oy);
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), ox + x, oy + y, CurrentTime);
    flush();
}

void XSession::keyDown(unsigned long keysym) {
    KeyCode code = XKeysymToKeycode(dpy_, keysym);
    if (code == 0) throw std::runtime_error("no key code for keysym " + std::to_string(keysym));
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    flush();
}

void XSession::keyUp(unsigned long keysym) {
    XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, keysym), False, CurrentTime);
    flush();
}

void XSession::tapKey(unsigned long keysym, int holdMs) {
    // keyUp waits until the server has taken the release, so its time stamp is already set.
    std::this_thread::sleep_until(lastTapRelease_ + Millis(10));
    keyDown(keysym);
    pause(holdMs);
    keyUp(keysym);
    lastTapRelease_ = std::chrono::steady_clock::now();
}

void XSession::buttonDown(unsigned button) {
    XTestFakeButtonEvent(dpy_, button, True, CurrentTime);
    flush();
}

void XSession::buttonUp(unsigned button) {
    XTestFakeButtonEvent(dpy_, button, False, CurrentTime);
    flush();
}

void XSession::click(Window w, int x, int y, unsigned button, int holdMs) {
    movePointer(w, x, y);
    pause(20);
    buttonDown(button);
    pause(holdMs);
    buttonUp(button);
}

Snapshot XSession::capture(Window w, int x, int y, int width, int height) {
    Snapshot s;
    XImage* img = XGetImage(dpy_, w, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!img) return s;
    s.w = width;
    s.h = height;
    s.pixels.reserve(static_cast<size_t>(width * height));
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            unsigned long p = XGetPixel(img, i, j);
            Rgb c;
            c.r = static_cast<uint8_t>((p & img->red_mask) >> __builtin_ctzl(img->red_mask));
            c.g = static_cast<uint8_t>((p & img->green_mask) >> __builtin_ctzl(img->green_mask));
            c.b = static_cast<uint8_t>((p & img->blue_mask) >> __builtin_ctzl(img->blue_mask));
            s.pixels.push_back(c);
        }
    XDestroyImage(img);
    return s;
}

} // namespace zutest
