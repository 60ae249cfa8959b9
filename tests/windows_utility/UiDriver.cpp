#include "UiDriver.h"

#include <commctrl.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>

namespace uitest {

namespace {

std::atomic<UINT> g_markerMessage{0};
std::atomic<LONG> g_lastMarkerTaken{0};
std::atomic<LONG> g_nextMarker{0};

LRESULT CALLBACK GetMessageHook(int code, WPARAM removal, LPARAM lParam) {
    if (code == HC_ACTION && removal == PM_REMOVE) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (message->message == g_markerMessage.load()) {
            g_lastMarkerTaken.store(static_cast<LONG>(message->wParam));
        }
    }
    return ::CallNextHookEx(nullptr, code, removal, lParam);
}

std::string ClassName(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

struct FindContext {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindByCaption(HWND window, LPARAM lParam) {
    auto* context = reinterpret_cast<FindContext*>(lParam);
    if (::IsWindowVisible(window) && WindowText(window) == context->caption) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

const char* const kOwnDialogCaptions[] = {"Norvik OPOS MSR Utility v1.13", "Logical Device Name (LDN)",
                                          "About SwipeBench"};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM lParam) {
    if (!::IsWindowVisible(window) || ClassName(window) != "#32770") return TRUE;
    std::string caption = WindowText(window);
    for (const char* own : kOwnDialogCaptions) {
        if (caption == own) return TRUE;
    }
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
}

MessageBoxInfo::Icon IconKind(HICON icon) {
    if (!icon) return MessageBoxInfo::Icon::None;
    if (icon == ::LoadIcon(nullptr, IDI_HAND)) return MessageBoxInfo::Icon::Error;
    if (icon == ::LoadIcon(nullptr, IDI_QUESTION)) return MessageBoxInfo::Icon::Question;
    if (icon == ::LoadIcon(nullptr, IDI_EXCLAMATION)) return MessageBoxInfo::Icon::Warning;
    if (icon == ::LoadIcon(nullptr, IDI_ASTERISK)) return MessageBoxInfo::Icon::Information;
    return MessageBoxInfo::Icon::Unknown;
}

BOOL CALLBACK ReadMessageBoxChild(HWND child, LPARAM lParam) {
    auto* info = reinterpret_cast<MessageBoxInfo*>(lParam);
    std::string cls = ClassName(child);
    if (cls == "Static") {
        LONG style = ::GetWindowLongA(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (::IsWindowVisible(child)) {
                info->icon = IconKind(reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0)));
            }
        } else if (info->text.empty()) {
            info->text = WindowText(child);
        }
    } else if (cls == "Button") {
        int id = ::GetDlgCtrlID(child);
        if (id == IDOK) info->hasOk = true;
        if (id == IDYES || id == IDNO) info->hasYesNo = true;
    }
    return TRUE;
}

}  // namespace

DialogThread::DialogThread(std::function<INT_PTR()> body) : body_(std::move(body)) {
    if (!g_markerMessage.load()) g_markerMessage = ::RegisterWindowMessageA("SwipeBenchTestSettleMarker");
    thread_ = ::CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId_);
}

namespace {

BOOL CALLBACK CancelEnabledWindow(HWND window, LPARAM) {
    // Only the innermost modal window is enabled; a box takes No or OK.
    if (::IsWindowVisible(window) && ::IsWindowEnabled(window) && ClassName(window) == "#32770") {
        int id = ::GetDlgItem(window, IDNO) ? IDNO : ::GetDlgItem(window, IDCANCEL) ? IDCANCEL : IDOK;
        if (WindowText(window) == kOwnDialogCaptions[0] || WindowText(window) == kOwnDialogCaptions[1]) {
            id = IDCANCEL;
        }
        ::PostMessageA(window, WM_COMMAND, id, 0);
    }
    return TRUE;
}

}  // namespace

DialogThread::~DialogThread() {
    if (!thread_) return;
    // Close whatever the test left open, innermost first, then the dialog.
    for (int attempt = 0; attempt < 40 && !finished_.load(); ++attempt) {
        ::EnumThreadWindows(threadId_, CancelEnabledWindow, 0);
        ::WaitForSingleObject(thread_, 250);
    }
    if (::WaitForSingleObject(thread_, kWaitMs) != WAIT_OBJECT_0) {
        // The thread still uses this object: there is no safe way on.
        fprintf(stderr, "the dialog thread did not end\n");
        std::abort();
    }
    ::CloseHandle(thread_);
}

DWORD WINAPI DialogThread::ThreadMain(void* parameter) {
    auto* self = static_cast<DialogThread*>(parameter);
    ::OleInitialize(nullptr);
    HHOOK hook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, nullptr, ::GetCurrentThreadId());
    self->result_ = self->body_();
    if (hook) ::UnhookWindowsHookEx(hook);
    ::OleUninitialize();
    self->finished_ = true;
    return 0;
}

HWND DialogThread::WaitForWindow(const std::string& caption, DWORD timeoutMs) const {
    FindContext context{caption, nullptr};
    WaitUntil(
        [&] {
            ::EnumThreadWindows(threadId_, FindByCaption, reinterpret_cast<LPARAM>(&context));
            return context.found != nullptr;
        },
        timeoutMs);
    return context.found;
}

bool DialogThread::Settle(DWORD timeoutMs) const {
    // A thread message: it survives the window that a command closes, and
    // every loop of the thread takes it in turn with the posted commands.
    LONG marker = ++g_nextMarker;
    if (!::PostThreadMessageA(threadId_, g_markerMessage.load(), static_cast<WPARAM>(marker), 0)) return false;
    return WaitUntil([&] { return g_lastMarkerTaken.load() >= marker || finished_.load(); }, timeoutMs);
}

std::optional<MessageBoxInfo> DialogThread::CurrentMessageBox() const {
    HWND box = nullptr;
    ::EnumThreadWindows(threadId_, FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (!box) return std::nullopt;
    MessageBoxInfo info;
    info.hwnd = box;
    info.caption = WindowText(box);
    ::EnumChildWindows(box, ReadMessageBoxChild, reinterpret_cast<LPARAM>(&info));
    return info;
}

bool DialogThread::Answer(const MessageBoxInfo& box, int buttonId) const {
    if (!::PostMessageA(box.hwnd, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                        reinterpret_cast<LPARAM>(::GetDlgItem(box.hwnd, buttonId)))) {
        return false;
    }
    if (!WaitUntil([&] { return !::IsWindow(box.hwnd); })) return false;
    return Settle();
}

HWND DialogThread::FocusedWindow() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

bool DialogThread::WaitFinished(INT_PTR* result, DWORD timeoutMs) const {
    bool done = ::WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
    if (done && result) *result = result_.load();
    return done;
}

bool DialogThread::Command(HWND dialog, int id, int code) const {
    if (!::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                        reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)))) {
        return false;
    }
    return Settle();
}

bool DialogThread::PressKey(HWND control, UINT virtualKey) const {
    UINT scan = ::MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1u << 30) | (1u << 31);
    ::PostMessageA(control, WM_KEYDOWN, virtualKey, down);
    ::PostMessageA(control, WM_KEYUP, virtualKey, up);
    return Settle();
}

std::string WindowText(HWND window) {
    int length = static_cast<int>(::SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(strlen(text.c_str()));
    return text;
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    int count = static_cast<int>(::SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        int length = static_cast<int>(::SendMessageA(combo, CB_GETLBTEXTLEN, i, 0));
        std::string item(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        ::SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
        item.resize(strlen(item.c_str()));
        items.push_back(item);
    }
    return items;
}

std::vector<std::string> ListItems(HWND list) {
    std::vector<std::string> items;
    int count = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        int length = static_cast<int>(::SendMessageA(list, LB_GETTEXTLEN, i, 0));
        std::string item(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        ::SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
        item.resize(strlen(item.c_str()));
        items.push_back(item);
    }
    return items;
}

int ComboSelection(HWND combo) { return static_cast<int>(::SendMessageA(combo, CB_GETCURSEL, 0, 0)); }

FontInfo WindowFont(HWND window) {
    FontInfo info;
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0));
    LOGFONTA logFont = {};
    if (font && ::GetObjectA(font, sizeof logFont, &logFont)) {
        info.valid = true;
        info.italic = logFont.lfItalic != 0;
        info.weight = logFont.lfWeight;
        info.height = logFont.lfHeight;
        info.face = logFont.lfFaceName;
    }
    return info;
}

bool ChooseComboItem(const DialogThread& thread, HWND dialog, int comboId, int index) {
    HWND combo = ::GetDlgItem(dialog, comboId);
    if (::SendMessageA(combo, CB_SETCURSEL, index, 0) != index) return false;
    return thread.Command(dialog, comboId, CBN_SELCHANGE);
}

bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (predicate()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(5);
    }
}

}  // namespace uitest
