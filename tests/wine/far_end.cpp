// The Linux end of the lines behind Wine's COM1 and COM2, and the runner of
// the stand-in VM (host/) for one group of scenarios or one probe.
//
// usage: wine-far-end SESSION_DIR TIME_LIMIT_SECONDS HOST_EXE [HOST_ARGS...]
//
// SESSION_DIR holds ports/ (the symlinks the prefix maps COM1 and COM2 to)
// and wineserver.pid (wine-session.sh). The far end points each symlink at a
// fresh pseudo-terminal whose master it holds, runs `$WINELOADER HOST_EXE
// HOST_ARGS...` in a work directory of its own, and answers the host's
// requests: a line "far <request>" on the host's output gets one line back on
// its input. Every other line the host writes is passed on. The exit status is
// the host's; a host still running at the time limit is ended and fails the
// run, after a line that says which scenario (GoogleTest's "[ RUN      ]") it
// was in and what it last said.
//
//   fresh                    new pseudo-terminals behind COM1 and COM2
//   state PORT               "open" while the device is open on the Windows side, else "closed"
//   termios PORT             the device's settings, as the kernel holds them
//   send PORT HEX            the bytes, written at once
//   send-after PORT MS HEX   answered at once; the bytes follow MS ms later
//   unplug-after PORT MS     answered at once; the device goes MS ms later
//   hold PORT                the device's output stopped, as by an XOFF from a peer
//   release PORT             and started again
//   receive PORT COUNT MS    "got HEX": what arrives within MS ms, at most COUNT bytes
//   reg ARGS...              "status N" of `$WINELOADER reg ARGS...`
//
// A delayed action also logs the processor time the host and wineserver
// used while it was due, and for a delay of 2 s or more in its last second:
// what a read that waits for it costs, and costs once it has settled.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hex_text.h"
#include "read_within.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void die(const std::string &what) {
  std::fprintf(stderr, "wine-far-end: %s\n", what.c_str());
  std::exit(2);
}

// One pseudo-terminal: the master here, the slave behind a symlink that the
// prefix maps to a COM port.
struct Line {
  int master = -1;
  std::string link;

  void replace() {
    if (master >= 0) {
      close(master);
    }
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      die("no pseudo-terminal: " + std::string(std::strerror(errno)));
    }
    // Swapped in one step, so that Wine never finds the link missing.
    const std::string fresh = link + ".new";
    unlink(fresh.c_str());
    if (symlink(ptsname(master), fresh.c_str()) != 0 || rename(fresh.c_str(), link.c_str()) != 0) {
      die("cannot point " + link + " at " + ptsname(master));
    }
  }
  // The master polls POLLHUP while no one has the slave open.
  bool slaveOpen() const {
    pollfd probe{master, POLLIN, 0};
    return master >= 0 && poll(&probe, 1, 0) >= 0 && (probe.revents & POLLHUP) == 0;
  }
  void unplug() {
    close(master);
    master = -1;
  }
  // The kernel takes a stop character in its own time: the line is held once
  // a byte written on the device's side no longer goes out. Those that still
  // do are read and dropped here.
  bool heldWithin(milliseconds limit) {
    const int device = open(ptsname(master), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool held = false;
    for (const auto end = Clock::now() + limit; device >= 0 && !held && Clock::now() < end;) {
      held = write(device, "?", 1) < 0 && errno == EAGAIN;
      readWithin(master, 1, milliseconds(held ? 0 : 10));
    }
    if (device >= 0) {
      close(device);
    }
    return held;
  }
};

std::string speedOf(speed_t code) {
  const std::map<speed_t, const char *> speeds = {
      {B1200, "1200"},   {B2400, "2400"},   {B4800, "4800"},   {B9600, "9600"},
      {B19200, "19200"}, {B38400, "38400"}, {B57600, "57600"}, {B115200, "115200"}};
  auto known = speeds.find(code);
  return known != speeds.end() ? known->second : "code" + std::to_string(code);
}

// What the kernel holds for the slave: on Linux, termios requests on a
// pseudo-terminal's master act on its slave.
std::string settingsOf(int master) {
  termios t{};
  if (tcgetattr(master, &t) != 0) {
    return "unreadable";
  }
  const std::pair<const char *, bool> flags[] = {
      {"parenb", (t.c_cflag & PARENB) != 0},   {"cstopb", (t.c_cflag & CSTOPB) != 0},
      {"crtscts", (t.c_cflag & CRTSCTS) != 0}, {"ixon", (t.c_iflag & IXON) != 0},
      {"ixoff", (t.c_iflag & IXOFF) != 0},     {"icrnl", (t.c_iflag & ICRNL) != 0},
      {"istrip", (t.c_iflag & ISTRIP) != 0},   {"icanon", (t.c_lflag & ICANON) != 0},
      {"echo", (t.c_lflag & ECHO) != 0},       {"isig", (t.c_lflag & ISIG) != 0},
      {"opost", (t.c_oflag & OPOST) != 0}};
  const int size = (t.c_cflag & CSIZE) == CS5   ? 5
                   : (t.c_cflag & CSIZE) == CS6 ? 6
                   : (t.c_cflag & CSIZE) == CS7 ? 7
                                                : 8;
  std::string out =
      speedOf(cfgetispeed(&t)) + "/" + speedOf(cfgetospeed(&t)) + " cs" + std::to_string(size);
  for (const auto &flag : flags) {
    out += std::string(" ") + (flag.second ? "" : "-") + flag.first;
  }
  return out;
}

// Processor time of a process and all its threads so far, in ms.
long cpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind(')');
  if (pid <= 0 || end == std::string::npos) {
    return -1;
  }
  std::istringstream fields(text.substr(end + 2));
  std::string skip;
  long user = 0, system = 0;
  for (int field = 3; field < 14; ++field) {
    fields >> skip;
  }
  fields >> user >> system;
  return (user + system) * 1000 / sysconf(_SC_CLK_TCK);
}

// The Wine loader of the architecture under test (tests/wine/CMakeLists.txt).
std::string wineLoader() {
  const char *loader = std::getenv("WINELOADER");
  return loader != nullptr && *loader != '\0' ? loader : "wine";
}

pid_t start(const std::vector<std::string> &args, int in, int out) {
  std::vector<char *> argv;
  for (const std::string &arg : args) {
    argv.push_back(const_cast<char *>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// waitpid with a deadline; a process still running then is killed.
int finish(pid_t pid, Clock::time_point deadline, const std::string &what) {
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      std::printf("wine-far-end: %s still running at the time limit; ended\n", what.c_str());
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(5000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Delayed {
  Clock::time_point due;
  Clock::time_point asked;
  std::string port;
  std::string bytes;  // empty: unplug
  long hostCpu, serverCpu;
  long lastSecondHostCpu = -1, lastSecondServerCpu = -1;  // taken 1 s before it is due
};

class FarEnd {
 public:
  FarEnd(const std::string &session, pid_t server) : server(server) {
    for (const char *name : {"COM1", "COM2"}) {
      lines[name].link = session + "/ports/" + name;
      lines[name].replace();
    }
  }

  std::string answer(const std::string &request, pid_t host, Clock::time_point deadline) {
    std::istringstream words(request);
    std::string verb, port;
    words >> verb;
    if (verb == "fresh") {
      delayed.clear();
      for (auto &entry : lines) {
        entry.second.replace();
      }
      return "ok";
    }
    if (verb == "reg") {
      std::vector<std::string> args = {wineLoader(), "reg"};
      for (std::string arg; words >> arg;) {
        args.push_back(arg);
      }
      const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
      const int status = finish(start(args, devNull, devNull), deadline, "wine reg");
      close(devNull);
      return "status " + std::to_string(status);
    }
    words >> port;
    auto found = lines.find(port);
    if (found == lines.end()) {
      return "no port " + port;
    }
    Line &target = found->second;
    if (verb == "state") {
      return target.slaveOpen() ? "open" : "closed";
    }
    if (verb == "termios") {
      return settingsOf(target.master);
    }
    if (verb == "hold" || verb == "release") {
      // XON/XOFF flow control, switched on behind the Windows side's back.
      termios t{};
      tcgetattr(target.master, &t);
      t.c_iflag |= IXON;
      const bool hold = verb == "hold";
      const char control = hold ? t.c_cc[VSTOP] : t.c_cc[VSTART];
      if (tcsetattr(target.master, TCSANOW, &t) != 0 || write(target.master, &control, 1) != 1) {
        return "failed";
      }
      return !hold || target.heldWithin(milliseconds(2000)) ? "ok" : "not held";
    }
    if (verb == "send") {
      std::string text;
      words >> text;
      const std::string bytes = unhex<std::string>(text);
      return write(target.master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())
                 ? "ok"
                 : "short write";
    }
    if (verb == "receive") {
      std::size_t count = 0;
      long ms = 0;
      words >> count >> ms;
      return "got " + hex(readWithin(target.master, count, milliseconds(ms)));
    }
    if (verb == "send-after" || verb == "unplug-after") {
      long ms = 0;
      std::string text;
      words >> ms >> text;
      const auto now = Clock::now();
      delayed.push_back({now + milliseconds(ms), now, port, unhex<std::string>(text), cpuMs(host),
                         cpuMs(server)});
      return "ok";
    }
    return "unknown request";
  }

  // The delayed actions that are due; returns the time until the next one.
  int runDue(pid_t host) {
    int wait = 100;
    for (auto next = delayed.begin(); next != delayed.end();) {
      const auto now = Clock::now();
      const auto lastSecond = next->due - std::chrono::seconds(1);
      if (next->lastSecondHostCpu < 0 && now >= lastSecond) {
        next->lastSecondHostCpu = cpuMs(host);
        next->lastSecondServerCpu = cpuMs(server);
      }
      if (next->due > now) {
        const auto until = next->lastSecondHostCpu < 0 ? lastSecond : next->due;
        wait =
            std::min<int>(wait, std::chrono::duration_cast<milliseconds>(until - now).count() + 1);
        ++next;
        continue;
      }
      const long ms = std::chrono::duration_cast<milliseconds>(now - next->asked).count();
      std::printf(
          "far end: %s on %s after %ld ms; meanwhile the host used %ld ms of processor "
          "time, wineserver %ld ms\n",
          next->bytes.empty() ? "unplugged" : "sent", next->port.c_str(), ms,
          cpuMs(host) - next->hostCpu, cpuMs(server) - next->serverCpu);
      if (next->due - next->asked >= std::chrono::seconds(2)) {
        std::printf("far end: in its last second the host used %ld ms, wineserver %ld ms\n",
                    cpuMs(host) - next->lastSecondHostCpu,
                    cpuMs(server) - next->lastSecondServerCpu);
      }
      Line &target = lines[next->port];
      if (next->bytes.empty()) {
        target.unplug();
      } else if (write(target.master, next->bytes.data(), next->bytes.size()) < 0) {
        std::printf("far end: writing to %s failed\n", next->port.c_str());
      }
      next = delayed.erase(next);
    }
    return wait;
  }

 private:
  std::map<std::string, Line> lines;
  std::vector<Delayed> delayed;
  pid_t server;
};

pid_t serverPid(const std::string &session) {
  std::ifstream file(session + "/wineserver.pid");
  pid_t pid = -1;
  file >> pid;
  return pid;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    die("usage: wine-far-end SESSION_DIR TIME_LIMIT_SECONDS HOST_EXE [HOST_ARGS...]");
  }
  const std::string session = std::filesystem::absolute(argv[1]);
  const auto deadline = Clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  std::vector<std::string> hostCommand = {wineLoader()};
  hostCommand.insert(hostCommand.end(), argv + 3, argv + argc);
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, nullptr, _IOLBF, 0);

  // The host's working directory, and that of `wine reg import`; the runs of
  // a session take turns.
  const std::filesystem::path work = session + "/work";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);
  FarEnd farEnd(session, serverPid(session));

  int toHost[2], fromHost[2];
  if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0) {
    die("no pipes");
  }
  const pid_t host = start(hostCommand, toHost[0], fromHost[1]);
  close(toHost[0]);
  close(fromHost[1]);

  // The host's end is its exit, not the end of its output: Wine processes it
  // starts (the desktop, services) inherit the pipe and outlive it.
  std::string pending;
  bool exited = false;
  int status = 1;
  // Where the host stands, for a run that has to be ended.
  std::string scenario = "none", lastLine = "none";
  Clock::time_point scenarioBegan = Clock::now();
  for (;;) {
    if (!exited && Clock::now() >= deadline) {
      const long ms =
          std::chrono::duration_cast<milliseconds>(Clock::now() - scenarioBegan).count();
      std::printf(
          "wine-far-end: time limit; the host is in scenario \"%s\" (begun %ld ms ago), "
          "its last line: \"%s\"\n",
          scenario.c_str(), ms, lastLine.c_str());
      finish(host, deadline, "the host");
      break;
    }
    int waitStatus = 0;
    if (!exited && waitpid(host, &waitStatus, WNOHANG) == host) {
      exited = true;
      status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 1;
    }
    pollfd out{fromHost[0], POLLIN, 0};
    ssize_t n = 0;
    if (poll(&out, 1, exited ? 0 : std::min(farEnd.runDue(host), 20)) > 0) {
      char chunk[4096];
      n = read(fromHost[0], chunk, sizeof chunk);
      pending.append(chunk, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      lastLine = line;
      if (line.rfind("[ RUN      ] ", 0) == 0) {
        scenario = line.substr(13);
        scenarioBegan = Clock::now();
      }
      if (line.rfind("far ", 0) == 0) {
        const std::string reply = farEnd.answer(line.substr(4), host, deadline) + "\n";
        if (write(toHost[1], reply.data(), reply.size()) < 0) {
          std::printf("wine-far-end: the host stopped listening\n");
        }
      } else {
        std::printf("%s\n", line.c_str());
      }
    }
    if (exited && n <= 0) {
      break;  // everything the host wrote is handled
    }
  }
  std::filesystem::current_path(session);
  std::filesystem::remove_all(work);
  return status;
}
