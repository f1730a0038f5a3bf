// Sanitizer settings for the test programs of a TARVESK_SANITIZE build,
// compiled into them so that they hold however the program is started (ctest,
// gtest_discover_tests at build time, or by hand). An environment variable
// still overrides any of them.
//
// The unit tests run a Java VM in the test process: it catches SIGSEGV on
// purpose (implicit null checks, safepoints), so ASan must leave that signal
// to it, and it keeps what it allocates until the process ends, which the
// suppressions file excuses by module. Leak detection stays on for the rest.

// The sanitizer runtime looks these up dynamically; the build hides symbols
// by default.
#define TARVESK_SANITIZER_HOOK __attribute__((visibility("default")))

extern "C" TARVESK_SANITIZER_HOOK const char *__asan_default_options() {
  return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=1";
}

extern "C" TARVESK_SANITIZER_HOOK const char *__lsan_default_options() {
  return "suppressions=" TARVESK_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

extern "C" TARVESK_SANITIZER_HOOK const char *__ubsan_default_options() {
  return "print_stacktrace=1";
}
