// Small stand-ins for a window manager and for a server socket, for the end-to-end scripts:
//   x11tool close WINDOW        sends WM_DELETE_WINDOW, as a window manager's close button does
//   x11tool ping WINDOW [MS]    sends _NET_WM_PING and waits for the answer (exit 0) or MS ms (exit 1)
//   x11tool socket PATH         leaves a bound UNIX socket at PATH
// WINDOW is a decimal or 0x-prefixed id; the display comes from DISPLAY.
#include <X11/Xlib.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: x11tool close WINDOW | ping WINDOW [MS] | socket PATH\n");
    return 2;
}

bool parseWindow(const char *text, Window *window)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (!end || *end || value == 0)
        return false;
    *window = value;
    return true;
}

XEvent protocolMessage(Display *display, Window window, const char *protocol)
{
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, protocol, False));
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = static_cast<long>(window);
    return event;
}

int closeWindow(Display *display, Window window)
{
    XEvent event = protocolMessage(display, window, "WM_DELETE_WINDOW");
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return sent ? 0 : 1;
}

// The client answers by sending the message back to the root window with a mask of
// structure (Qt) or substructure notifications, so both are listened for there.
int ping(Display *display, Window window, long timeoutMs)
{
    const Window root = DefaultRootWindow(display);
    const Atom pingAtom = XInternAtom(display, "_NET_WM_PING", False);
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    XEvent event = protocolMessage(display, window, "_NET_WM_PING");
    const long stamp = 0x5eed;
    event.xclient.data.l[1] = stamp;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(display)) {
            XEvent reply;
            XNextEvent(display, &reply);
            if (reply.type == ClientMessage && reply.xclient.window == root
                && static_cast<Atom>(reply.xclient.data.l[0]) == pingAtom
                && reply.xclient.data.l[1] == stamp
                && static_cast<Window>(reply.xclient.data.l[2]) == window)
                return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 1;
}

int makeSocket(const char *path)
{
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) {
        std::fprintf(stderr, "socket path too long: %s\n", path);
        return 1;
    }
    std::strcpy(address.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("socket");
        return 1;
    }
    close(fd); // the name stays in the file system
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    if (command == "socket")
        return makeSocket(argv[2]);

    Window window;
    if ((command != "close" && command != "ping") || !parseWindow(argv[2], &window))
        return usage();
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11tool: cannot open display\n");
        return 1;
    }
    const int result = command == "close"
        ? closeWindow(display, window)
        : ping(display, window, argc > 3 ? std::atol(argv[3]) : 5000);
    XCloseDisplay(display);
    return result;
}
