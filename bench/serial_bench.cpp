// Measures the library, driven from Java, against raw poll/read/write on the
// same pseudo-terminal in the same run. This process holds the master side
// and plays the peer for both.
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr long kBulkBytes = 32L << 20;
constexpr int kSingleWrites = 100000;
constexpr int kRoundTrips = 2000;
constexpr int kIdleSeconds = 3;

long long nanosSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

void fail(const std::string &what) {
  std::fprintf(stderr, "serial_bench: %s\n", what.c_str());
  std::exit(1);
}

struct Pty {
  int master = -1;
  int heldSlave = -1;
  std::string slavePath;
};

Pty makePty() {
  Pty pty;
  int slave = -1;
  char name[128];
  if (openpty(&pty.master, &slave, name, nullptr, nullptr) != 0) {
    fail("openpty failed");
  }
  termios raw{};
  tcgetattr(pty.master, &raw);
  cfmakeraw(&raw);
  tcsetattr(pty.master, TCSANOW, &raw);
  // Held open for the whole run, so the master never reads EIO in the
  // moments between one side under test closing and the next opening.
  pty.heldSlave = slave;
  pty.slavePath = name;
  return pty;
}

void writeAll(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      fail("peer write failed");
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// The peer's sides of the workloads, run on their own thread.
void feed(int master, long total) {
  std::vector<char> chunk(65536, 'x');
  for (long sent = 0; sent < total; sent += static_cast<long>(chunk.size())) {
    writeAll(master, chunk.data(), chunk.size());
  }
}

void drain(int master, long total) {
  std::vector<char> buffer(65536);
  for (long got = 0; got < total;) {
    ssize_t n = read(master, buffer.data(), buffer.size());
    if (n <= 0) {
      fail("peer read failed");
    }
    got += n;
  }
}

void echo(int master, int count) {
  char byte;
  for (int i = 0; i < count; ++i) {
    if (read(master, &byte, 1) != 1) {
      fail("peer echo read failed");
    }
    writeAll(master, &byte, 1);
  }
}

void poke(int master, int seconds) {
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  writeAll(master, "!", 1);
}

// Raw C baseline on the slave side.
int openRaw(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    fail("cannot open " + path);
  }
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  return fd;
}

void waitFor(int fd, short events) {
  pollfd p{fd, events, 0};
  while (poll(&p, 1, -1) < 0) {
  }
}

long long rawBulkRead(const std::string &path, long total) {
  int fd = openRaw(path);
  std::vector<char> buffer(65536);
  auto start = Clock::now();
  for (long got = 0; got < total;) {
    waitFor(fd, POLLIN);
    ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n > 0) {
      got += n;
    }
  }
  long long elapsed = nanosSince(start);
  close(fd);
  return elapsed;
}

long long rawSingleByteWrites(const std::string &path, int count) {
  int fd = openRaw(path);
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const char byte = static_cast<char>(i);
    while (write(fd, &byte, 1) != 1) {
      waitFor(fd, POLLOUT);
    }
  }
  long long elapsed = nanosSince(start);
  close(fd);
  return elapsed;
}

std::vector<long long> rawRoundTrips(const std::string &path, int count) {
  int fd = openRaw(path);
  std::vector<long long> samples;
  char byte = 0;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    while (write(fd, &byte, 1) != 1) {
      waitFor(fd, POLLOUT);
    }
    for (;;) {
      waitFor(fd, POLLIN);
      if (read(fd, &byte, 1) == 1) {
        break;
      }
    }
    samples.push_back(nanosSince(start));
  }
  close(fd);
  return samples;
}

long long threadCpuNanos() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long rawIdleReadCpu(const std::string &path) {
  int fd = openRaw(path);
  char byte;
  long long before = threadCpuNanos();
  for (;;) {
    waitFor(fd, POLLIN);
    if (read(fd, &byte, 1) == 1) {
      break;
    }
  }
  long long used = threadCpuNanos() - before;
  close(fd);
  return used;
}

// The library's side, through the Java methods of BenchLibrary.
struct Java {
  JNIEnv *env = nullptr;
  jclass bench = nullptr;

  void check() {
    if (env->ExceptionCheck()) {
      env->ExceptionDescribe();
      fail("Java side failed");
    }
  }
  jlong callLong(const char *method, const char *signature, jstring device, jlong arg) {
    jmethodID id = env->GetStaticMethodID(bench, method, signature);
    check();
    jlong result = std::string(signature).find("I)") != std::string::npos
                       ? env->CallStaticLongMethod(bench, id, device, static_cast<jint>(arg))
                       : env->CallStaticLongMethod(bench, id, device, arg);
    check();
    return result;
  }
};

Java startJava(const char *classPath, const char *libraryPath) {
  std::string cp = std::string("-Djava.class.path=") + classPath;
  std::string lib = std::string("-Djava.library.path=") + libraryPath;
  JavaVMOption options[2] = {{const_cast<char *>(cp.c_str()), nullptr},
                             {const_cast<char *>(lib.c_str()), nullptr}};
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = 2;
  args.options = options;
  JavaVM *vm = nullptr;
  Java java;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(&java.env), &args) != JNI_OK) {
    fail("cannot start the Java VM");
  }
  java.bench = java.env->FindClass("BenchLibrary");
  java.check();
  return java;
}

std::vector<long long> libraryRoundTrips(Java &java, jstring device, int count) {
  jmethodID id = java.env->GetStaticMethodID(java.bench, "roundTrips", "(Ljava/lang/String;I)[J");
  java.check();
  auto array = static_cast<jlongArray>(
      java.env->CallStaticObjectMethod(java.bench, id, device, static_cast<jint>(count)));
  java.check();
  std::vector<jlong> values(static_cast<size_t>(count));
  java.env->GetLongArrayRegion(array, 0, count, values.data());
  java.env->DeleteLocalRef(array);
  return std::vector<long long>(values.begin(), values.end());
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long long percentile(std::vector<long long> samples, double p) {
  std::sort(samples.begin(), samples.end());
  size_t index = static_cast<size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[index];
}

bool report(const char *what, double library, double baseline, const char *unit,
            bool higherIsBetter, double target) {
  double ratio = library / baseline;
  bool met = higherIsBetter ? ratio >= target : ratio <= target;
  std::printf("%-30s %14.1f %14.1f %-8s %6.2fx  (target %s %.1fx) %s\n", what, library, baseline,
              unit, ratio, higherIsBetter ? ">=" : "<=", target, met ? "met" : "MISSED");
  return met;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: serial_bench <class path> <library dir>\n");
    return 2;
  }
  Java java = startJava(argv[1], argv[2]);
  Pty pty = makePty();
  jstring device = java.env->NewStringUTF(pty.slavePath.c_str());
  std::printf("pseudo-terminal %s\n", pty.slavePath.c_str());

  // Warm up the JIT and the pty with a small run of each library workload.
  {
    std::thread peer(feed, pty.master, 1L << 20);
    java.callLong("bulkRead", "(Ljava/lang/String;J)J", device, 1L << 20);
    peer.join();
    std::thread writes(drain, pty.master, 20000L);
    java.callLong("singleByteWrites", "(Ljava/lang/String;I)J", device, 20000);
    writes.join();
    std::thread echoes(echo, pty.master, 500);
    libraryRoundTrips(java, device, 500);
    echoes.join();
  }

  // Rounds alternate between the two sides, so that a burst of load from
  // elsewhere on the machine hits both alike; the median round is reported.
  std::vector<double> rawBulkRates, libBulkRates, rawWriteRates, libWriteRates;
  std::vector<long long> rawTrips, libTrips;
  const double mib = static_cast<double>(kBulkBytes) / (1 << 20);
  for (int round = 0; round < kRounds; ++round) {
    std::thread peer(feed, pty.master, kBulkBytes);
    rawBulkRates.push_back(mib / (rawBulkRead(pty.slavePath, kBulkBytes) / 1e9));
    peer.join();
    peer = std::thread(feed, pty.master, kBulkBytes);
    libBulkRates.push_back(
        mib / (java.callLong("bulkRead", "(Ljava/lang/String;J)J", device, kBulkBytes) / 1e9));
    peer.join();

    peer = std::thread(drain, pty.master, static_cast<long>(kSingleWrites));
    rawWriteRates.push_back(kSingleWrites /
                            (rawSingleByteWrites(pty.slavePath, kSingleWrites) / 1e9));
    peer.join();
    peer = std::thread(drain, pty.master, static_cast<long>(kSingleWrites));
    libWriteRates.push_back(
        kSingleWrites /
        (java.callLong("singleByteWrites", "(Ljava/lang/String;I)J", device, kSingleWrites) / 1e9));
    peer.join();

    peer = std::thread(echo, pty.master, kRoundTrips);
    const std::vector<long long> raw = rawRoundTrips(pty.slavePath, kRoundTrips);
    rawTrips.insert(rawTrips.end(), raw.begin(), raw.end());
    peer.join();
    peer = std::thread(echo, pty.master, kRoundTrips);
    const std::vector<long long> lib = libraryRoundTrips(java, device, kRoundTrips);
    libTrips.insert(libTrips.end(), lib.begin(), lib.end());
    peer.join();
  }

  std::thread peer(poke, pty.master, kIdleSeconds);
  const double rawIdle = static_cast<double>(rawIdleReadCpu(pty.slavePath));
  peer.join();
  peer = std::thread(poke, pty.master, kIdleSeconds);
  const double libIdle =
      static_cast<double>(java.callLong("idleReadCpu", "(Ljava/lang/String;)J", device, 0));
  peer.join();

  std::printf("\n%d rounds\n%-30s %14s %14s\n", kRounds, "", "library", "raw C");
  bool met = true;
  met &= report("bulk read, 64 KiB reads", median(libBulkRates), median(rawBulkRates), "MiB/s",
                true, 0.8);
  met &= report("single-byte writes", median(libWriteRates), median(rawWriteRates), "writes/s",
                true, 0.7);
  met &= report("round trip, median", percentile(libTrips, 0.5) / 1e3,
                percentile(rawTrips, 0.5) / 1e3, "us", false, 1.3);
  std::printf("%-30s %14.1f %14.1f %-8s\n", "round trip, 99th percentile",
              percentile(libTrips, 0.99) / 1e3, percentile(rawTrips, 0.99) / 1e3, "us");
  const bool idleMet = libIdle < 1e6;
  std::printf("%-30s %14.3f %14.3f %-8s (target < 1 ms) %s\n", "CPU of a 3 s idle read",
              libIdle / 1e6, rawIdle / 1e6, "ms", idleMet ? "met" : "MISSED");
  met &= idleMet;
  close(pty.master);
  return met ? 0 : 1;
}
