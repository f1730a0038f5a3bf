// Messages for the user: one line on stderr, or in TARVESK_MESSAGE_LOG.
#include <string>

#include "platform/platform.h"
#include "platform/posix/linux/message_sink.h"
#include "platform/posix/linux/utf_conversion.h"

namespace {

std::u16string textOf(LPCWSTR text) { return text != nullptr ? std::u16string(text) : u""; }

// "tarvesk: <caption>: <text>\n"; line breaks inside become spaces so that
// one message stays one line.
std::string messageLine(LPCWSTR text, LPCWSTR caption) {
  std::string line = "tarvesk: " + tarvesk_linux::toUtf8(textOf(caption)) + ": " +
                     tarvesk_linux::toUtf8(textOf(text));
  for (char &c : line) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return line + "\n";
}

}  // namespace

int MessageBoxW(HWND /*hWnd*/, LPCWSTR lpText, LPCWSTR lpCaption, UINT /*uType*/) {
  try {
    tarvesk_linux::writeMessageLine(messageLine(lpText, lpCaption));
  } catch (...) {
    // Out of memory: the message is lost, the caller carries on.
  }
  return IDOK;
}
