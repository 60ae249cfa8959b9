// Drives real dialogs from a test: the dialog runs modally on its own
// apartment thread, the test thread sends and posts window messages to it.
//
// Settling: a posted command may open a nested modal loop (a message box, the
// logical device name dialog). Settle() posts a marker behind the command and
// waits until some message loop of the dialog thread has taken it; by then the
// command has either finished or is waiting in a nested loop, whose window
// then exists. All waits are bounded.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace uitest {

constexpr DWORD kWaitMs = 30000;  // generous: only a failing wait lasts this long

struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    bool hasOk = false;
    bool hasYesNo = false;
    enum class Icon { None, Error, Question, Warning, Information, Unknown } icon = Icon::None;
};

class DialogThread {
public:
    // Runs `body` (which shows a modal dialog and returns its result) on a new
    // thread with OLE initialised.
    explicit DialogThread(std::function<INT_PTR()> body);
    ~DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    DWORD ThreadId() const { return threadId_; }

    // The thread's visible top-level window with this caption.
    HWND WaitForWindow(const std::string& caption, DWORD timeoutMs = kWaitMs) const;
    // Posts a marker to the thread and waits until one of its loops took it.
    bool Settle(DWORD timeoutMs = kWaitMs) const;
    // The message box currently shown by the thread, if any.
    std::optional<MessageBoxInfo> CurrentMessageBox() const;
    // Clicks `buttonId` in a message box and settles the thread behind it.
    bool Answer(const MessageBoxInfo& box, int buttonId) const;
    // The window that has the keyboard focus on the dialog thread.
    HWND FocusedWindow() const;
    // Waits for the body to return; its result then goes to `result`.
    bool WaitFinished(INT_PTR* result = nullptr, DWORD timeoutMs = kWaitMs) const;
    bool Finished() const { return finished_.load(); }

    // Posts a command (WM_COMMAND from control `id` with `code`) and settles.
    bool Command(HWND dialog, int id, int code = BN_CLICKED) const;
    // Posts a key press to `control` and settles.
    bool PressKey(HWND control, UINT virtualKey) const;

private:
    static DWORD WINAPI ThreadMain(void* self);

    std::function<INT_PTR()> body_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    std::atomic<bool> finished_{false};
    std::atomic<INT_PTR> result_{0};
};

std::string WindowText(HWND window);
std::vector<std::string> ComboItems(HWND combo);
std::vector<std::string> ListItems(HWND list);
int ComboSelection(HWND combo);
// Font of a window: italic flag, weight, height and face name.
struct FontInfo {
    bool valid = false;
    bool italic = false;
    LONG weight = 0;
    LONG height = 0;
    std::string face;
};
FontInfo WindowFont(HWND window);
// Selects list item `index` of a combo box and posts CBN_SELCHANGE, as a user's choice would.
bool ChooseComboItem(const DialogThread& thread, HWND dialog, int comboId, int index);
// Waits for `predicate` to hold, checking every few milliseconds.
bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs = kWaitMs);

}  // namespace uitest
