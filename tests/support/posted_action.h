#pragma once

#include <windows.h>

#include <functional>
#include <thread>
#include <utility>

// A window of this thread that runs `action` when a message arrives for it.
// Another thread sends the message `delayMs` after the start, while a call of
// this thread waits for the agent: COM's wait delivers sent messages, as the
// browser's own windows send them, a tab closing among them.
class PostedAction {
  public:
    PostedAction(DWORD delayMs, std::function<void()> action) : action_(std::move(action)) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "WebCorvanePostedAction";
        RegisterClassA(&windowClass);
        window_ = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        poster_ = std::thread([this, delayMs] {
            Sleep(delayMs);
            DWORD_PTR result = 0;
            SendMessageTimeoutA(window_, WM_APP, 0, 0, SMTO_NORMAL, 5000, &result);
        });
    }
    ~PostedAction() {
        poster_.join();
        DestroyWindow(window_);
    }
    bool Ran() const { return ran_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<PostedAction*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_APP && self != nullptr && !self->ran_) {
            self->ran_ = true;
            self->action_();
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    std::function<void()> action_;
    HWND window_ = nullptr;
    bool ran_ = false;
    std::thread poster_;
};
