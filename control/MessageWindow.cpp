#include "MessageWindow.h"

#include <utility>

namespace norvik::control {
namespace {

constexpr wchar_t kClassName[] = L"NorvikMSRControlRelayWindow";
constexpr UINT kRelayMessage = WM_APP + 0x4E;

}  // namespace

HRESULT MessageWindow::EnsureWindowClass(HINSTANCE module) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    if (::GetClassInfoExW(module, kClassName, &windowClass)) return S_OK;
    windowClass.lpfnWndProc = &MessageWindow::WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kClassName;
    if (::RegisterClassExW(&windowClass) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return S_OK;
    return HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT MessageWindow::Create(HINSTANCE module, std::function<void()> onPost) {
    Destroy();
    HRESULT hr = EnsureWindowClass(module);
    if (FAILED(hr)) return hr;
    HWND window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (!window) return HRESULT_FROM_WIN32(::GetLastError());
    // Nobody can post to the window before it is handed out, so setting this late is safe.
    _onPost = std::move(onPost);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    _window = window;
    return S_OK;
}

bool MessageWindow::Post() const {
    return _window && ::PostMessageW(_window, kRelayMessage, 0, 0);
}

void MessageWindow::Destroy() {
    HWND window = std::exchange(_window, nullptr);
    if (!window) return;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        ::DestroyWindow(window);
    } else {
        ::PostMessageW(window, WM_CLOSE, 0, 0);  // only its own thread may destroy it
    }
}

void MessageWindow::UnregisterWindowClass(HINSTANCE module) { ::UnregisterClassW(kClassName, module); }

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRelayMessage) {
        auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && self->_onPost) {
            // A copy: the handler may end the owner of this window, and with it `self`.
            const std::function<void()> onPost = self->_onPost;
            onPost();
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace norvik::control
