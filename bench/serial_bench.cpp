// Runs the benchmark and plays the device. The programs under test (raw C,
// the plain JVM, tarvesk through CESerialPort) each run as a process of their
// own, as an application and a device are separate: they take orders on stdin
// and report on stdout the times they measured themselves, so that no
// start-up is ever timed. For every run this process makes a fresh
// pseudo-terminal, keeps its master side and serves it: it writes a bulk
// stream, drains single-byte writes and frames, echoes round trips, stays
// silent, wakes a waiting read with one byte, or goes under a waiting read.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

constexpr long kBulkBytes = 64L << 20;
constexpr long kSingleWrites = 200000;
// Bulk writes: frames of each size, each handed over in one call, up to the
// total given beside it (about a second's worth).
constexpr struct { long bytes, total; } kFrames[] = {{64, 16L << 20}, {4096, 64L << 20}};
constexpr int kFrameSizes = 2;
constexpr long kRoundTrips = 5000;
constexpr long kIdleSeconds = 3;
constexpr long kWakeUps = 200;   // bytes, each to a read that waits for it
constexpr int kEndedReads = 20;  // runs with the device gone, and with a close ending a read
// Ample for a read to be waiting on a quiet machine before the device acts.
constexpr auto kReadIsWaiting = std::chrono::milliseconds(5);
constexpr int kDefaultRounds = 6;          // each program twice in each place
constexpr unsigned kRunLimitSeconds = 60;  // a run that hangs ends the benchmark
// Before a round, wait (up to a limit) for the rest of the machine to use at
// most this share of the CPUs: other work on a 2-core machine moves the
// figures by tens of percent.
constexpr double kQuietShare = 0.10;
constexpr int kLongestQuietWaitSeconds = 60;

[[noreturn]] void fail(const std::string &what) {
  std::fprintf(stderr, "serial_bench: %s\n", what.c_str());
  std::exit(2);
}

// The slave side stays open here until the program under test has opened it,
// so that it keeps the raw settings made for it.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;
};

Pty makePty() {
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[64];
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
      ptsname_r(pty.master, name, sizeof name) != 0) {
    fail("cannot make a pseudo-terminal");
  }
  pty.path = name;
  pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (pty.slave < 0 || tcgetattr(pty.slave, &raw) != 0) {
    fail("cannot open " + pty.path);
  }
  cfmakeraw(&raw);
  tcsetattr(pty.slave, TCSANOW, &raw);
  return pty;
}

// The clock the programs report instants in: System.nanoTime() reads it too,
// and it is the same in every process.
long long monotonicNanos() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void writeAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) {
      fail("device write failed");
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// What the device does in each workload, on the master side.
void feed(int master, long total) {
  const std::vector<char> chunk(65536, 'x');
  for (long sent = 0; sent < total; sent += static_cast<long>(chunk.size())) {
    writeAll(master, chunk.data(), chunk.size());
  }
}

void drain(int master, long total) {
  std::vector<char> buffer(65536);
  for (long got = 0; got < total;) {
    const ssize_t n = read(master, buffer.data(), buffer.size());
    if (n <= 0) {
      fail("device read failed");
    }
    got += n;
  }
}

void echo(int master, long total) {
  char buffer[256];
  for (long got = 0; got < total;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) {
      fail("device read failed");
    }
    writeAll(master, buffer, static_cast<size_t>(n));
    got += n;
  }
}

void staySilent(int master, long seconds) {
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  writeAll(master, "!", 1);
}

// One byte at a time, each once the read for it waits; when each was sent.
void wakeReads(int master, long count, std::vector<long long> &sentAt) {
  for (long i = 0; i < count; ++i) {
    std::this_thread::sleep_for(kReadIsWaiting);
    sentAt.push_back(monotonicNanos());
    writeAll(master, "w", 1);
  }
}

// The line goes under a waiting read, as when a USB adapter is pulled out.
void unplug(int &master, long long &at) {
  std::this_thread::sleep_for(kReadIsWaiting);
  at = monotonicNanos();
  close(master);
  master = -1;
}

// The calls a program makes on a gone device, in the order it reports their
// times (-1: the program has no such call).
const char *const kCalls[] = {"read", "available", "params", "write", "close"};
constexpr int kCallCount = 5;

// Each call's time in every sample, and the slowest call of each sample.
struct CallTimes {
  std::vector<long long> each[kCallCount];
  std::vector<long long> slowest;

  void add(const std::vector<long long> &took) {
    long long most = -1;
    for (int c = 0; c < kCallCount && c < static_cast<int>(took.size()); ++c) {
      if (took[c] >= 0) {
        each[c].push_back(took[c]);
        most = std::max(most, took[c]);
      }
    }
    slowest.push_back(most);
  }
};

// What one program under test achieved, a value per round (round trips,
// wake-ups, devices gone and calls: every sample).
struct Results {
  std::vector<double> bulkMiBps, writesPerSecond, tripMedianUs, idleCpuUs;
  std::vector<double> framesMiBps[kFrameSizes];
  std::vector<long long> tripNanos, wakeNanos, goneNanos, closeNanos, closeReadNanos;
  // tarvesk's read with a deadline: its wake-ups, and its CPU while it waits.
  std::vector<long long> deadlineWakeNanos;
  std::vector<double> deadlineIdleCpuUs;
  CallTimes gone;
};

class Program {
 public:
  Program(std::string name, std::vector<std::string> argv) : name(std::move(name)) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
      fail("cannot make pipes");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    std::vector<char *> args;
    for (std::string &arg : argv) {
      args.push_back(arg.data());
    }
    args.push_back(nullptr);
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
      fail("cannot start " + argv[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    orders = fdopen(toChild[1], "w");
    reports = fdopen(fromChild[0], "r");
  }
  ~Program() {
    std::fclose(orders);  // end of orders: the program exits
    std::fclose(reports);
    waitpid(pid, nullptr, 0);
  }
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  // One run of a workload on a fresh pseudo-terminal; the numbers reported.
  // The device gets the master side, and may close it (setting it to -1).
  std::vector<long long> run(const char *workload, long count,
                             const std::function<void(int &)> &device) {
    Pty pty = makePty();
    alarm(kRunLimitSeconds);
    std::fprintf(orders, "%s %s %ld\n", workload, pty.path.c_str(), count);
    std::fflush(orders);
    if (reportLine() != "ready") {
      fail(name + " did not open " + pty.path);
    }
    close(pty.slave);
    device(pty.master);
    std::istringstream report(reportLine());
    if (pty.master >= 0) {
      close(pty.master);
    }
    alarm(0);
    std::vector<long long> numbers;
    for (long long n; report >> n;) {
      numbers.push_back(n);
    }
    if (numbers.empty()) {
      fail(name + " reported nothing for " + workload);
    }
    return numbers;
  }

  const std::string name;

 private:
  std::string reportLine() {
    std::string line;
    for (int c; (c = std::fgetc(reports)) != '\n';) {
      if (c == EOF) {
        fail(name + " stopped");
      }
      line += static_cast<char>(c);
    }
    return line;
  }

  pid_t pid = -1;
  FILE *orders = nullptr;
  FILE *reports = nullptr;
};

// A device that plays the same part in every run.
std::function<void(int &)> serving(void (*part)(int, long), long count) {
  return [part, count](int &master) { part(master, count); };
}

template <typename T>
double quantile(std::vector<T> values, double q) {
  std::sort(values.begin(), values.end());
  return static_cast<double>(values[static_cast<size_t>(q * (values.size() - 1) + 0.5)]);
}

double median(const std::vector<double> &values) { return quantile(values, 0.5); }

// Frames of each size, written by every program in turn.
void runFrameWrites(const std::function<int(int)> &inTurn, Program *const (&programs)[3],
                    Results (&results)[3]) {
  for (int size = 0; size < kFrameSizes; ++size) {
    const std::string workload = "frames-" + std::to_string(kFrames[size].bytes);
    for (int turn = 0; turn < 3; ++turn) {
      const int i = inTurn(turn);
      const double seconds = 1e-9 * programs[i]->run(workload.c_str(), kFrames[size].total,
                                                     serving(drain, kFrames[size].total))[0];
      results[i].framesMiBps[size].push_back(static_cast<double>(kFrames[size].total >> 20) /
                                             seconds);
    }
  }
}

// One round: each workload run by every program in turn, so that what load
// comes from elsewhere on the machine falls on all of them alike. Where a
// program runs within a round changes its figures by itself: on a 2-core VM
// the same raw C program read 15-20% faster in the first place and wrote
// single bytes 10-15% slower. So the order turns by one place from round to
// round: over every three rounds each program takes each place once.
void runRound(int round, Program *const (&programs)[3], Results (&results)[3], bool withIdle) {
  const auto inTurn = [round](int turn) { return (round + turn) % 3; };
  for (int turn = 0; turn < 3; ++turn) {
    const int i = inTurn(turn);
    const double seconds =
        1e-9 * programs[i]->run("bulk", kBulkBytes, serving(feed, kBulkBytes))[0];
    results[i].bulkMiBps.push_back(static_cast<double>(kBulkBytes >> 20) / seconds);
  }
  for (int turn = 0; turn < 3; ++turn) {
    const int i = inTurn(turn);
    const double seconds =
        1e-9 * programs[i]->run("writes", kSingleWrites, serving(drain, kSingleWrites))[0];
    results[i].writesPerSecond.push_back(static_cast<double>(kSingleWrites) / seconds);
  }
  runFrameWrites(inTurn, programs, results);
  for (int turn = 0; turn < 3; ++turn) {
    const int i = inTurn(turn);
    const std::vector<long long> trips =
        programs[i]->run("trips", kRoundTrips, serving(echo, kRoundTrips));
    results[i].tripMedianUs.push_back(1e-3 * quantile(trips, 0.5));
    results[i].tripNanos.insert(results[i].tripNanos.end(), trips.begin(), trips.end());
  }
  for (int turn = 0; withIdle && turn < 3; ++turn) {
    const int i = inTurn(turn);
    results[i].idleCpuUs.push_back(
        1e-3 * programs[i]->run("idle", kIdleSeconds, serving(staySilent, kIdleSeconds))[0]);
  }
  // Each read reports when it returned, each device gone when the read saw it and
  // how long each call on the gone device then took.
  for (int turn = 0; turn < 3; ++turn) {
    const int i = inTurn(turn);
    std::vector<long long> sentAt;
    const std::vector<long long> readAt = programs[i]->run(
        "wake", kWakeUps, [&sentAt](int &master) { wakeReads(master, kWakeUps, sentAt); });
    for (size_t k = 0; k < sentAt.size() && k < readAt.size(); ++k) {
      results[i].wakeNanos.push_back(readAt[k] - sentAt[k]);
    }
  }
  for (int turn = 0; turn < 3; ++turn) {
    const int i = inTurn(turn);
    for (int k = 0; k < kEndedReads; ++k) {
      long long cutAt = 0;
      std::vector<long long> report =
          programs[i]->run("unplug", 0, [&cutAt](int &master) { unplug(master, cutAt); });
      results[i].goneNanos.push_back(report[0] - cutAt);
      results[i].gone.add(std::vector<long long>(report.begin() + 1, report.end()));
    }
  }
  // Only CESerialPort's close ends a read that waits on a silent line: how
  // long the close takes, and how soon the read has returned.
  for (int k = 0; k < kEndedReads; ++k) {
    const std::vector<long long> report = programs[2]->run("closing", 0, [](int &) {});
    results[2].closeNanos.push_back(report[0]);
    results[2].closeReadNanos.push_back(report[1]);
  }
  // Only CESerialPort has a read with a deadline: as the plain read is woken
  // and waits above, each time with a deadline far beyond the device's act.
  std::vector<long long> sentAt;
  const std::vector<long long> readAt = programs[2]->run(
      "wake-within", kWakeUps, [&sentAt](int &master) { wakeReads(master, kWakeUps, sentAt); });
  for (size_t k = 0; k < sentAt.size() && k < readAt.size(); ++k) {
    results[2].deadlineWakeNanos.push_back(readAt[k] - sentAt[k]);
  }
  if (withIdle) {
    results[2].deadlineIdleCpuUs.push_back(
        1e-3 * programs[2]->run("idle-within", kIdleSeconds, serving(staySilent, kIdleSeconds))[0]);
  }
}

// How far the rounds strayed from their median, as "-a% +b%".
std::string spread(const std::vector<double> &values) {
  const double mid = median(values);
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  char text[48];
  std::snprintf(text, sizeof text, "-%.0f%% +%.0f%%", 100 * (mid - *low) / mid,
                100 * (*high - mid) / mid);
  return text;
}

// The share of all CPUs that was busy over half a second.
double busyShare() {
  const auto sample = [](double &busy, double &all) {
    std::ifstream file("/proc/stat");
    std::string cpu;
    file >> cpu;
    busy = all = 0;
    double ticks[8] = {};  // user nice system idle iowait irq softirq steal
    for (int i = 0; i < 8 && file >> ticks[i]; ++i) {
      all += ticks[i];
      busy += i == 3 || i == 4 ? 0 : ticks[i];
    }
  };
  double busy0, all0, busy1, all1;
  sample(busy0, all0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  sample(busy1, all1);
  return all1 > all0 ? (busy1 - busy0) / (all1 - all0) : 0;
}

// Waits for a quiet machine; returns the busy share it settled for.
double waitForQuiet() {
  double share = busyShare();
  for (int waited = 0; share > kQuietShare && waited < kLongestQuietWaitSeconds; ++waited) {
    share = busyShare();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return share;
}

// The device works on one CPU and the programs under test on the others, as a
// real device works beside the application rather than taking turns with it:
// left to the scheduler, a round trip takes 9 or 50 us by whether the two
// happen to share a CPU. Nothing is pinned on a machine with one CPU.
struct Placement {
  cpu_set_t device, programs;
  bool separate = false;
};

Placement placement() {
  Placement p;
  sched_getaffinity(0, sizeof p.programs, &p.programs);
  p.device = p.programs;
  if (CPU_COUNT(&p.programs) >= 2) {
    int first = 0;
    while (!CPU_ISSET(first, &p.programs)) {
      ++first;
    }
    CPU_ZERO(&p.device);
    CPU_SET(first, &p.device);
    CPU_CLR(first, &p.programs);
    p.separate = true;
  }
  return p;
}

std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// The medians a program reached over all rounds.
struct Figures {
  double bulkMiBps, writesPerSecond, tripUs, trip99Us, idleCpuUs;
};

Figures figuresOf(const Results &r) {
  return {median(r.bulkMiBps), median(r.writesPerSecond), 1e-3 * quantile(r.tripNanos, 0.5),
          1e-3 * quantile(r.tripNanos, 0.99), median(r.idleCpuUs)};
}

// A table cell: the figure, then its ratio to raw C.
std::string cell(double value, const char *unit, double ratio) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f %s (%.2f)", value, unit, ratio);
  return text;
}

const char *verdict(bool met) { return met ? "yes" : "**no**"; }

// Microseconds, finer where they are few.
std::string micros(double nanos) {
  char text[32];
  std::snprintf(text, sizeof text, nanos < 10e3 ? "%.1f" : "%.0f", nanos / 1e3);
  return text;
}

// A table cell: "median · p99 µs", or a dash where the program has no samples.
std::string medianAndP99(const std::vector<long long> &nanos) {
  if (nanos.empty()) {
    return "—";
  }
  return micros(quantile(nanos, 0.5)) + " · " + micros(quantile(nanos, 0.99)) + " µs";
}

// The second table: how soon a waiting read wakes, notices the device gone or is
// ended by close, and how soon calls on a gone device return.
void printWaitingReadTable(int rounds, Program *const (&programs)[3], const Results (&results)[3]) {
  const char *labels[] = {"raw C", "plain JVM", "**tarvesk**"};
  std::printf(
      "| %d rounds, median · 99th percentile | wake-up of a waiting read | device gone, noticed by "
      "a waiting read | slowest call on the gone device | close of a port whose read waits |"
      "\n|---|---|---|---|---|\n",
      rounds);
  for (int i = 0; i < 3; ++i) {
    const Results &r = results[i];
    std::printf("| %s | %s | %s | %s | %s |\n", labels[i], medianAndP99(r.wakeNanos).c_str(),
                medianAndP99(r.goneNanos).c_str(), medianAndP99(r.gone.slowest).c_str(),
                medianAndP99(r.closeNanos).c_str());
  }
  std::printf(
      "\neach call, median · 99th percentile (calls a program does not have are left out):\n");
  for (int i = 0; i < 3; ++i) {
    std::string line;
    for (int c = 0; c < kCallCount; ++c) {
      if (!results[i].gone.each[c].empty()) {
        line += std::string(line.empty() ? "" : ", ") + kCalls[c] + " " +
                medianAndP99(results[i].gone.each[c]);
      }
    }
    if (!line.empty()) {
      std::printf("  %-10s gone device   %s\n", programs[i]->name.c_str(), line.c_str());
    }
  }
  if (!results[2].closeReadNanos.empty()) {
    std::printf("  %-10s the read that close ended had returned %s after close began\n",
                programs[2]->name.c_str(), medianAndP99(results[2].closeReadNanos).c_str());
  }
  if (!results[2].deadlineIdleCpuUs.empty()) {
    std::printf(
        "\n| %d rounds, tarvesk | wake-up of a waiting read | wake-up of a waiting read with a "
        "deadline | CPU of a read waiting 3 s | CPU of a read with a deadline waiting 3 s |\n"
        "|---|---|---|---|---|\n| median · 99th percentile; medians | %s | %s | %.0f µs | %.0f µs "
        "|\n",
        rounds, medianAndP99(results[2].wakeNanos).c_str(),
        medianAndP99(results[2].deadlineWakeNanos).c_str(), median(results[2].idleCpuUs),
        median(results[2].deadlineIdleCpuUs));
  }
}

// Markdown, as the README's table has it; figures[0] is raw C, [1] the plain
// JVM, [2] tarvesk.
void printTable(int rounds, const Figures (&figures)[3]) {
  const char *labels[] = {"raw C `read`/`write`/`poll` (the limit)",
                          "plain JVM, `RandomAccessFile` (the JVM's floor)",
                          "**tarvesk**, `CESerialPort`"};
  std::printf(
      "| %d rounds, medians (ratio to raw C) | bulk read, 64 KiB reads | single-byte "
      "writes | 1-byte round trip, median | round trip, 99th percentile | CPU of a read "
      "waiting 3 s |\n|---|---|---|---|---|---|\n",
      rounds);
  const Figures &raw = figures[0];
  for (int i = 0; i < 3; ++i) {
    const Figures &f = figures[i];
    std::printf(
        "| %s | %s | %s | %s | %s | %.0f µs |\n", labels[i],
        cell(f.bulkMiBps, "MiB/s", f.bulkMiBps / raw.bulkMiBps).c_str(),
        cell(f.writesPerSecond / 1e3, "k/s", f.writesPerSecond / raw.writesPerSecond).c_str(),
        cell(f.tripUs, "µs", f.tripUs / raw.tripUs).c_str(),
        cell(f.trip99Us, "µs", f.trip99Us / raw.trip99Us).c_str(), f.idleCpuUs);
  }
  const Figures &plain = figures[1];
  const Figures &tarvesk = figures[2];
  const double writesTarget = plain.writesPerSecond / raw.writesPerSecond - 0.03;
  const double tripTarget = 1.05 * plain.tripUs / raw.tripUs;
  std::printf(
      "| target for tarvesk | ≥ 0.95 | ≥ %.2f (plain JVM − 0.03) | ≤ %.2f (plain JVM × 1.05) | "
      "| ≤ %.0f µs (plain JVM) |\n",
      writesTarget, tripTarget, plain.idleCpuUs);
  std::printf("| tarvesk meets it | %s | %s | %s | | %s |\n",
              verdict(tarvesk.bulkMiBps / raw.bulkMiBps >= 0.95),
              verdict(tarvesk.writesPerSecond / raw.writesPerSecond >= writesTarget),
              verdict(tarvesk.tripUs / raw.tripUs <= tripTarget),
              verdict(tarvesk.idleCpuUs <= plain.idleCpuUs));
}

// Markdown: frames written whole, each in one call, beside the plain JVM's
// RandomAccessFile.write(byte[], int, int), which the target is set against.
void printFrameTable(int rounds, Program *const (&programs)[3], const Results (&results)[3]) {
  std::printf("| %d rounds, medians (ratio to the plain JVM) |", rounds);
  for (const auto &frame : kFrames) {
    std::printf(" %ld-byte frames |", frame.bytes);
  }
  std::printf("\n|---|---|---|\n");
  bool met[kFrameSizes];
  for (int i = 0; i < 3; ++i) {
    std::printf("| %s |", programs[i]->name.c_str());
    for (int size = 0; size < kFrameSizes; ++size) {
      const double mine = median(results[i].framesMiBps[size]);
      const double ratio = mine / median(results[1].framesMiBps[size]);
      met[size] = ratio >= 0.95;
      std::printf(" %s |", cell(mine, "MiB/s", ratio).c_str());
    }
    std::printf("\n");
  }
  std::printf("| target for tarvesk | ≥ 0.95 | ≥ 0.95 |\n| tarvesk meets it | %s | %s |\n",
              verdict(met[0]), verdict(met[1]));
  std::printf("spread of the rounds around their median (64-byte, 4096-byte frames):\n");
  for (int i = 0; i < 3; ++i) {
    std::printf("  %-10s %s, %s\n", programs[i]->name.c_str(),
                spread(results[i].framesMiBps[0]).c_str(),
                spread(results[i].framesMiBps[1]).c_str());
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: serial_bench <raw client> <java> <class path> <library dir>\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);  // a program that died is reported as such
  const char *roundsText = std::getenv("BENCH_ROUNDS");
  const int rounds = roundsText != nullptr ? std::atoi(roundsText) : kDefaultRounds;
  if (rounds < 3) {
    fail("BENCH_ROUNDS must be 3 or more");
  }
  const std::string java = argv[2];
  const std::string classPath = argv[3];
  const std::string libraryPath = std::string("-Djava.library.path=") + argv[4];
  const Placement cpus = placement();
  sched_setaffinity(0, sizeof cpus.programs, &cpus.programs);  // inherited by the programs
  Program raw("raw C", {argv[1]});
  Program plain("plain JVM", {java, "-cp", classPath, "JavaClient", "plain-jvm"});
  Program tarvesk("tarvesk", {java, "-cp", classPath, libraryPath, "JavaClient", "tarvesk"});
  Program *programs[] = {&raw, &plain, &tarvesk};
  sched_setaffinity(0, sizeof cpus.device, &cpus.device);

  std::printf(
      "each round: %ld MiB in 64 KiB reads, %ld single-byte writes, %ld round trips, "
      "one read waiting %ld s, %ld reads woken by a byte, %d devices gone under a waiting read, "
      "%d closes pending (tarvesk), %ld reads with a deadline woken by a byte and one waiting "
      "%ld s (tarvesk)\n%s; load average %s\n",
      kBulkBytes >> 20, kSingleWrites, kRoundTrips, kIdleSeconds, kWakeUps, kEndedReads,
      kEndedReads, kWakeUps, kIdleSeconds,
      cpus.separate ? "the device on one CPU, the programs on the others" : "one CPU for all",
      loadAverage().c_str());
  Results warmUp[3];
  runRound(0, programs, warmUp, false);  // lets the JIT compile the loops; not counted
  Results results[3];
  std::printf("round  program     bulk read    writes   trip median  idle CPU\n");
  for (int round = 1; round <= rounds; ++round) {
    std::printf("%5d  (machine %.0f%% busy before the round)\n", round, 100 * waitForQuiet());
    runRound(round, programs, results, true);
    for (int i = 0; i < 3; ++i) {
      const Results &r = results[i];
      std::printf("%5d  %-10s %6.1f MiB/s %5.0f k/s %7.1f µs %6.0f µs\n", round,
                  programs[i]->name.c_str(), r.bulkMiBps.back(), r.writesPerSecond.back() / 1e3,
                  r.tripMedianUs.back(), r.idleCpuUs.back());
    }
    for (int i = 0; i < 3; ++i) {
      std::printf("%5d  %-10s frames: %6.1f MiB/s of 64 bytes, %6.1f MiB/s of 4096\n", round,
                  programs[i]->name.c_str(), results[i].framesMiBps[0].back(),
                  results[i].framesMiBps[1].back());
    }
    std::fflush(stdout);
  }

  std::printf("\nload average %s\n\n", loadAverage().c_str());
  const Figures figures[3] = {figuresOf(results[0]), figuresOf(results[1]), figuresOf(results[2])};
  printTable(rounds, figures);
  std::printf("\n");
  printWaitingReadTable(rounds, programs, results);
  std::printf(
      "\nspread of the rounds around their median (bulk, writes, round-trip median, "
      "idle CPU):\n");
  for (int i = 0; i < 3; ++i) {
    std::printf("  %-10s %s, %s, %s, %s\n", programs[i]->name.c_str(),
                spread(results[i].bulkMiBps).c_str(), spread(results[i].writesPerSecond).c_str(),
                spread(results[i].tripMedianUs).c_str(), spread(results[i].idleCpuUs).c_str());
  }
  std::printf("\n");
  printFrameTable(rounds, programs, results);
  return 0;
}
