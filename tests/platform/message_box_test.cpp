// Messages: one UTF-8 line per call, in TARVESK_MESSAGE_LOG or on stderr.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bounded_call.h"
#include "platform/platform.h"
#include "platform/posix/linux/utf_conversion.h"
#include "scoped_environment.h"

namespace {

class Messages : public testing::Test {
 protected:
  MessageLog log;
};

}  // namespace

TEST_F(Messages, AppendsOneUtf8LinePerMessageToTheLog) {
  EXPECT_EQ(MessageBoxW(nullptr, u"Unable to open the port", u"Error", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, u"caf\u00e9 \U0001F600\nsecond line", u"Oops", MB_OK), IDOK);
  EXPECT_EQ(log.text(),
            "tarvesk: Error: Unable to open the port\n"
            "tarvesk: Oops: caf\xC3\xA9 \xF0\x9F\x98\x80 second line\n");
}

// The caller never waits on the log and never loses the line: whatever keeps
// the log from taking it, the line goes to stderr and the call returns.
TEST_F(Messages, FallsBackToStderrWhenTheLogCannotBeWritten) {
  const std::filesystem::path fifo = log.dir.path / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(log.dir.path / "directory");
  const std::pair<const char *, std::string> unwritable[] = {
      {"in a missing directory", (log.dir.path / "missing" / "messages.log").string()},
      {"a directory", (log.dir.path / "directory").string()},
      {"a full device", "/dev/full"},
      {"a pipe nobody reads", fifo.string()},
  };
  for (const auto &[what, path] : unwritable) {
    SCOPED_TRACE(what);
    ScopedEnv setting("TARVESK_MESSAGE_LOG", path);
    testing::internal::CaptureStderr();
    int result = 0;
    int reader = -1;
    finishesWithin(
        std::chrono::seconds(2),
        [&] {
          result = MessageBoxW(nullptr, u"Unable to configure the serial port", u"Error", MB_OK);
        },
        [&] { reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tarvesk: Error: Unable to configure the serial port\n");
    if (reader >= 0) close(reader);
  }
}

// Four threads report 200 long messages each at once: every line arrives
// whole, exactly once, in the log or on stderr.
TEST_F(Messages, MessagesFromSeveralThreadsNeverInterleave) {
  const std::u16string text(300, u'm');
  const auto reportAtOnce = [&text] {
    std::vector<std::thread> writers;
    for (char16_t id = u'a'; id < u'e'; ++id) {
      writers.emplace_back([&text, id] {
        const std::u16string caption(1, id);
        for (int i = 0; i < 200; ++i) MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
      });
    }
    for (std::thread &writer : writers) writer.join();
  };
  const auto expectWholeLines = [](const std::string &written) {
    std::istringstream lines(written);
    std::map<std::string, int> counts;
    for (std::string line; std::getline(lines, line);) ++counts[line];
    const std::string body = ": " + std::string(300, 'm');
    EXPECT_EQ(counts, (std::map<std::string, int>{{"tarvesk: a" + body, 200},
                                                  {"tarvesk: b" + body, 200},
                                                  {"tarvesk: c" + body, 200},
                                                  {"tarvesk: d" + body, 200}}));
  };

  reportAtOnce();
  expectWholeLines(log.text());

  ScopedEnv noLog("TARVESK_MESSAGE_LOG", "");
  testing::internal::CaptureStderr();
  reportAtOnce();
  expectWholeLines(testing::internal::GetCapturedStderr());
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(tarvesk_linux::toUtf8(u"a\xD800z\xDC00"), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
  EXPECT_EQ(tarvesk_linux::toUtf8(std::u16string(u"\0x", 2)), std::string("\0x", 2));
}
