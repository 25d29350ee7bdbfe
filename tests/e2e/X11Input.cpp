#include "tests/e2e/X11Input.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "tests/ProgramRun.h"

namespace velomark::e2e {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kXdotool = "/usr/bin/xdotool";
constexpr auto kWindowPoll = std::chrono::milliseconds(50);
// The toolkit sees the pointer's crossing and focus events a little after the move.
constexpr auto kFocusSettle = std::chrono::milliseconds(250);
constexpr int kKeyDelayMs = 30;

bool Xdotool(const std::vector<std::string>& arguments, std::string* out = nullptr) {
    std::vector<std::string> argv{kXdotool};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const testing::ProgramOutput result = testing::RunProgram(argv, 20000);
    if (out) *out = result.out;
    return result.exitCode == 0;
}

}  // namespace

std::vector<unsigned long> X11Input::FindWindows(const std::string& titlePattern) {
    std::string out;
    // No match exits with 1 and prints nothing.
    Xdotool({"search", "--onlyvisible", "--name", titlePattern}, &out);
    std::vector<unsigned long> windows;
    std::istringstream lines(out);
    for (unsigned long id = 0; lines >> id;) windows.push_back(id);
    return windows;
}

std::optional<WindowBox> X11Input::Geometry(unsigned long id) {
    std::string out;
    if (!Xdotool({"getwindowgeometry", "--shell", std::to_string(id)}, &out)) return std::nullopt;
    WindowBox box;
    box.id = id;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = line.substr(0, equals);
        const int value = std::atoi(line.c_str() + equals + 1);
        if (name == "X") box.x = value;
        if (name == "Y") box.y = value;
        if (name == "WIDTH") box.width = value;
        if (name == "HEIGHT") box.height = value;
    }
    if (box.width <= 0 || box.height <= 0) return std::nullopt;
    return box;
}

std::optional<WindowBox> X11Input::WaitForWindow(const std::string& titlePattern, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (unsigned long id : FindWindows(titlePattern))
            if (std::optional<WindowBox> box = Geometry(id)) return box;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(kWindowPoll);
    }
}

bool X11Input::WaitForNoWindow(const std::string& titlePattern, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (FindWindows(titlePattern).empty()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kWindowPoll);
    }
}

bool X11Input::MovePointer(int x, int y) {
    const bool moved = Xdotool({"mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(kFocusSettle);
    return moved;
}

bool X11Input::PointAt(const WindowBox& window) {
    return MovePointer(window.x + window.width / 2, window.y + window.height / 2);
}

bool X11Input::Key(const std::string& keys) {
    return Xdotool({"key", "--delay", std::to_string(kKeyDelayMs), keys});
}

bool X11Input::Type(const std::string& text) {
    return Xdotool({"type", "--delay", std::to_string(kKeyDelayMs), "--", text});
}

bool X11Input::TypePath(const std::string& path, int delayMs) {
    return Xdotool({"type", "--delay", std::to_string(delayMs), "--", path});
}

}  // namespace velomark::e2e
