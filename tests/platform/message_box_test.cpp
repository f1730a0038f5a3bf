// Messages: one UTF-8 line per call, in TARVESK_MESSAGE_LOG or on stderr.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/posix/port_namespace.h"
#include "scoped_environment.h"

namespace {

class Messages : public testing::Test {
 protected:
  std::string logText() const {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempDir dir;
  std::filesystem::path log = dir.path / "messages.log";
  ScopedEnv logSetting{"TARVESK_MESSAGE_LOG", log.string()};
};

}  // namespace

TEST_F(Messages, AppendsOneUtf8LinePerMessageToTheLog) {
  EXPECT_EQ(MessageBoxW(nullptr, u"Unable to open the port", u"Error", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, u"caf\u00e9 \U0001F600\nsecond line", u"Oops", MB_OK), IDOK);
  EXPECT_EQ(logText(),
            "tarvesk: Error: Unable to open the port\n"
            "tarvesk: Oops: caf\xC3\xA9 \xF0\x9F\x98\x80 second line\n");
}

TEST_F(Messages, FallsBackToStderrWhenTheLogCannotBeWritten) {
  ScopedEnv unwritable("TARVESK_MESSAGE_LOG", (dir.path / "missing" / "messages.log").string());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Unable to configure the serial port", u"Error", MB_OK), IDOK);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tarvesk: Error: Unable to configure the serial port\n");
}

TEST_F(Messages, MessagesFromSeveralThreadsNeverInterleave) {
  const std::u16string text(300, u'm');
  std::vector<std::thread> writers;
  for (char16_t id = u'a'; id < u'e'; ++id) {
    writers.emplace_back([&text, id] {
      const std::u16string caption(1, id);
      for (int i = 0; i < 200; ++i) MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
    });
  }
  for (std::thread &writer : writers) writer.join();
  std::istringstream lines(logText());
  std::set<std::string> distinct;
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) distinct.insert(line.substr(9, 3));
  EXPECT_EQ(count, 800);
  EXPECT_EQ(distinct, (std::set<std::string>{"a: ", "b: ", "c: ", "d: "}));
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(tarvesk_posix::toUtf8(u"a\xD800z\xDC00"), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
  EXPECT_EQ(tarvesk_posix::toUtf8(std::u16string(u"\0x", 2)), std::string("\0x", 2));
}
