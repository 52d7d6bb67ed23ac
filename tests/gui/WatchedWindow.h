#pragma once

#include <string>
#include <vector>

// A top-level window that notes, in their order, the calls that move it on the screen or
// bring it back. Window is the class under test: the main window, or a bare frame.
template <class Window> class WatchedWindow : public Window
{
public:
    using Window::Window;

    void Iconize(bool iconize) override
    {
        calls.push_back(iconize ? "Iconize(true)" : "Iconize(false)");
        Window::Iconize(iconize);
    }
    void SetFocus() override
    {
        calls.push_back("SetFocus");
        Window::SetFocus();
    }
    void Raise() override
    {
        calls.push_back("Raise");
        Window::Raise();
    }
    bool Show(bool show) override
    {
        calls.push_back(show ? "Show(true)" : "Show(false)");
        return Window::Show(show);
    }

    std::vector<std::string> calls;
};
