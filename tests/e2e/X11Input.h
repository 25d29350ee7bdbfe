// A person's hands on the X server, through xdotool (XTest): finding top-level windows
// by title, pointing at them and typing. Without a window manager the keyboard focus
// follows the pointer, so every key goes to the window under it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velomark::e2e {

struct WindowBox {
    unsigned long id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class X11Input {
public:
    // Visible windows whose title matches the regular expression.
    static std::vector<unsigned long> FindWindows(const std::string& titlePattern);
    static std::optional<WindowBox> Geometry(unsigned long id);
    // The first visible window with a matching title, waited for up to timeoutMs.
    static std::optional<WindowBox> WaitForWindow(const std::string& titlePattern,
                                                  int timeoutMs = 20000);
    // Whether every window with a matching title went within timeoutMs.
    static bool WaitForNoWindow(const std::string& titlePattern, int timeoutMs = 20000);

    // Moves the pointer to a point of the screen, or onto the middle of a window, and
    // gives the toolkit a moment to take the focus that comes with it.
    static bool MovePointer(int x, int y);
    static bool PointAt(const WindowBox& window);
    // Key combinations as xdotool names them ("Return", "alt+s", "F10").
    static bool Key(const std::string& keys);
    static bool Type(const std::string& text);
    // A path into a file dialog's entry, the keys `delayMs` apart (0: one burst). The
    // dialog completes names once it has read a folder, and a completion that lands
    // between later keys garbles them.
    static bool TypePath(const std::string& path, int delayMs = 0);
};

}  // namespace velomark::e2e
