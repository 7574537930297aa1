// Asks an X11 window to close the way a window manager does: the ICCCM
// WM_DELETE_WINDOW client message, sent to the window itself. It works without a
// window manager, unlike tools that ask the window manager to do it.
//
// Usage: zel-close-window WINDOW-ID

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool WantsDeleteMessage(Display *Connection, Window Target, Atom DeleteWindow) {
    Atom *Protocols = nullptr;
    int Count = 0;
    if (!XGetWMProtocols(Connection, Target, &Protocols, &Count))
        return false;
    bool Found = false;
    for (int Index = 0; Index < Count; ++Index)
        Found = Found || Protocols[Index] == DeleteWindow;
    XFree(Protocols);
    return Found;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WINDOW-ID\n", argv[0]);
        return 2;
    }
    const Window Target = std::strtoul(argv[1], nullptr, 0);
    Display *Connection = XOpenDisplay(nullptr);
    if (!Connection) {
        std::fprintf(stderr, "%s: cannot open the display\n", argv[0]);
        return 1;
    }
    const Atom Protocols = XInternAtom(Connection, "WM_PROTOCOLS", False);
    const Atom DeleteWindow = XInternAtom(Connection, "WM_DELETE_WINDOW", False);
    if (!WantsDeleteMessage(Connection, Target, DeleteWindow)) {
        std::fprintf(stderr, "%s: window %s does not take WM_DELETE_WINDOW\n", argv[0], argv[1]);
        XCloseDisplay(Connection);
        return 1;
    }
    XEvent Message{};
    Message.xclient.type = ClientMessage;
    Message.xclient.window = Target;
    Message.xclient.message_type = Protocols;
    Message.xclient.format = 32;
    Message.xclient.data.l[0] = static_cast<long>(DeleteWindow);
    Message.xclient.data.l[1] = CurrentTime;
    const Status Sent = XSendEvent(Connection, Target, False, NoEventMask, &Message);
    XSync(Connection, False);
    XCloseDisplay(Connection);
    return Sent ? 0 : 1;
}
