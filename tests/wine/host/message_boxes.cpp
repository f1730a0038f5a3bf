#include "message_boxes.h"

#include <windows.h>

#include <utility>

#include "stand_in_vm.h"

namespace standin {

namespace {

// A hook procedure has no context of its own.
HHOOK hook;
std::vector<Message> shown;

// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;

std::u16string windowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return std::u16string(text, text + lstrlenW(text));
}

LRESULT CALLBACK onWindowEvent(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    GetClassNameW(box, className, 16);
    if (lstrcmpW(className, L"#32770") == 0) {  // the dialog class of message boxes
      shown.push_back({windowText(box), windowText(GetDlgItem(box, kMessageTextId))});
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

MessageBoxes::MessageBoxes() {
  hook = SetWindowsHookExW(WH_CBT, onWindowEvent, nullptr, GetCurrentThreadId());
  if (hook == nullptr) {
    Vm::fail("cannot watch for message boxes: SetWindowsHookExW failed");
  }
}

MessageBoxes::~MessageBoxes() { UnhookWindowsHookEx(hook); }

std::vector<Message> MessageBoxes::take() { return std::exchange(shown, {}); }

}  // namespace standin
