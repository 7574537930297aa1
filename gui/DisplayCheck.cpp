#include "gui/DisplayCheck.h"

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Environment(const char *Name) {
    const char *Value = std::getenv(Name);
    return Value ? Value : "";
}

std::optional<std::string> WhyNoX11Display() {
    const std::string Display = Environment("DISPLAY");
    if (Display.empty())
        return "DISPLAY is not set";
    xcb_connection_t *Connection = xcb_connect(Display.c_str(), nullptr);
    const bool Connected = xcb_connection_has_error(Connection) == 0;
    xcb_disconnect(Connection);
    if (Connected)
        return std::nullopt;
    return "no connection to '" + Display + "' (DISPLAY)";
}

bool CanConnectToSocket(const std::string &Path) {
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    if (Path.size() >= sizeof Address.sun_path)
        return false;
    std::memcpy(Address.sun_path, Path.c_str(), Path.size() + 1);
    const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool Connected =
        Socket >= 0 && connect(Socket, reinterpret_cast<sockaddr *>(&Address), sizeof Address) == 0;
    if (Socket >= 0)
        close(Socket);
    return Connected;
}

// As the Wayland client library looks for its compositor: a socket handed over, or the
// socket named by WAYLAND_DISPLAY (by default wayland-0) in XDG_RUNTIME_DIR.
std::optional<std::string> WhyNoWaylandDisplay() {
    if (!Environment("WAYLAND_SOCKET").empty())
        return std::nullopt;
    const std::string Display = Environment("WAYLAND_DISPLAY");
    const std::string Name = Display.empty() ? "wayland-0" : Display;
    const std::string Path =
        Name.starts_with('/') ? Name : Environment("XDG_RUNTIME_DIR") + "/" + Name;
    if (CanConnectToSocket(Path))
        return std::nullopt;
    if (Display.empty())
        return "WAYLAND_DISPLAY is not set";
    return "no connection to '" + Display + "' (WAYLAND_DISPLAY)";
}

// QT_QPA_PLATFORM: "name[:options]" entries separated by ';', tried in turn.
std::vector<std::string> PlatformNames(const std::string &Setting) {
    std::vector<std::string> Names;
    std::size_t Start = 0;
    for (;;) {
        const std::size_t End = Setting.find(';', Start);
        const std::string Entry = Setting.substr(Start, End - Start);
        Names.push_back(Entry.substr(0, Entry.find(':')));
        if (End == std::string::npos)
            return Names;
        Start = End + 1;
    }
}

} // namespace

// Without QT_QPA_PLATFORM Qt tries X11 or Wayland, depending on the session: either
// one reachable will do.
std::optional<std::string> WhyNoDisplay() {
    const std::string Setting = Environment("QT_QPA_PLATFORM");
    const std::vector<std::string> Names =
        Setting.empty() ? std::vector<std::string>{"xcb", "wayland"} : PlatformNames(Setting);
    std::string Reasons;
    for (const std::string &Name : Names) {
        std::optional<std::string> Reason;
        if (Name == "xcb")
            Reason = WhyNoX11Display();
        else if (Name.starts_with("wayland"))
            Reason = WhyNoWaylandDisplay();
        if (!Reason)
            return std::nullopt;
        Reasons += (Reasons.empty() ? "" : "; ") + *Reason;
    }
    return Reasons;
}
