#include "xwindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <memory>

namespace {
using DisplayPtr = std::unique_ptr<Display, int (*)(Display*)>;

// A window listed by XQueryTree may be gone by the time it is asked for its title (Wine
// makes and drops helper windows all the time); Xlib's default handler would end the test.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

std::string windowTitle(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, remaining;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(
            display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &remaining, &data)
            == Success
        && data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return title;
}

Window findWindow(Display* display, const std::string& title)
{
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (windowTitle(display, children[i]) == title)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

DisplayPtr openDisplay(const std::string& name)
{
    XSetErrorHandler(ignoreXErrors);
    return DisplayPtr(XOpenDisplay(name.c_str()), &XCloseDisplay);
}
}

bool xWindowShown(const std::string& displayName, const std::string& title)
{
    DisplayPtr display = openDisplay(displayName);
    return display && findWindow(display.get(), title) != 0;
}

bool xCloseWindow(const std::string& displayName, const std::string& title)
{
    DisplayPtr display = openDisplay(displayName);
    if (!display)
        return false;
    const Window window = findWindow(display.get(), title);
    if (!window)
        return false;
    XEvent event;
    memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display.get(), window, False, NoEventMask, &event);
    XFlush(display.get());
    return true;
}
