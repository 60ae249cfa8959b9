// A hidden message-only window that wakes its creating thread: Post() from any thread
// makes the window call its handler there, from the thread's message loop.
#pragma once

#include <windows.h>

#include <functional>

namespace norvik::control {

class MessageWindow {
public:
    MessageWindow() = default;
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    ~MessageWindow() { Destroy(); }

    // On the thread that is to run `onPost`; that thread must pump messages.
    HRESULT Create(HINSTANCE module, std::function<void()> onPost);
    // Any thread. False when the window is gone or the message queue refused the post.
    bool Post() const;
    // On the creating thread the window goes at once. From another thread it is told to
    // close itself and no longer calls the handler.
    void Destroy();

    // The window class is registered once per process; the module unregisters it when it
    // is unloaded.
    static void UnregisterWindowClass(HINSTANCE module);

private:
    static HRESULT EnsureWindowClass(HINSTANCE module);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND _window = nullptr;
    std::function<void()> _onPost;
};

}  // namespace norvik::control
