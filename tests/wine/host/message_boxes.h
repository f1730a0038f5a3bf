#pragma once

// The message boxes the library shows, read as a user would read them: a
// WH_CBT hook on this thread records the caption and text of each box when it
// becomes active and presses its OK button. This works the same on Windows;
// under Wine it needs a graphics driver that makes windows, which the "null"
// driver does without a display (with none, MessageBoxW returns at once).
#include <string>
#include <vector>

namespace standin {

struct Message {
  std::u16string caption;
  std::u16string text;
  bool operator==(const Message &other) const {
    return caption == other.caption && text == other.text;
  }
};

class MessageBoxes {
 public:
  MessageBoxes();  // from here on, on the calling thread
  ~MessageBoxes();
  MessageBoxes(const MessageBoxes &) = delete;
  MessageBoxes &operator=(const MessageBoxes &) = delete;

  // The boxes shown since the last call, oldest first.
  std::vector<Message> take();
};

}  // namespace standin
