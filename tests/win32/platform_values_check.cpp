// Compiled, never run: once natively against our Linux declarations and once
// by each mingw-w64 compiler against <windows.h>. Every check that fails
// stops the compile, naming the platform name whose type, value or layout
// differs from expected_platform_values.h. Must be compiled with -O2: the
// handle constants are checked by the optimiser (see below).
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <jni.h>

#include "expected_platform_values.h"
#include "platform/platform.h"

#ifndef WINAPI
#define WINAPI  // the Linux declarations have no calling convention of their own
#endif

namespace {

constexpr std::uint32_t bitPattern(unsigned long long value) {
  return static_cast<std::uint32_t>(value);
}

#define TARVESK_CHECK_CONSTANT(name, value)                                             \
  static_assert(bitPattern(static_cast<unsigned long long>(name)) == bitPattern(value), \
                #name " must be " #value);
TARVESK_EXPECTED_CONSTANTS(TARVESK_CHECK_CONSTANT)

#define TARVESK_CHECK_INTEGER_TYPE(type, size, isSigned)                                          \
  static_assert(                                                                                  \
      std::is_integral_v<type> && sizeof(type) == (size) && std::is_signed_v<type> == (isSigned), \
      #type " must be a " #size "-byte integer, signed: " #isSigned);
TARVESK_EXPECTED_INTEGER_TYPES(TARVESK_CHECK_INTEGER_TYPE)

#define TARVESK_CHECK_POINTER_TYPE(type, expected) \
  static_assert(std::is_same_v<type, expected>, #type " must be " #expected);
TARVESK_EXPECTED_POINTER_TYPES(TARVESK_CHECK_POINTER_TYPE)

#define TARVESK_CHECK_OPAQUE_HANDLE(type)                                  \
  static_assert(std::is_pointer_v<type> && sizeof(type) == sizeof(void *), \
                #type " must be a pointer");
TARVESK_EXPECTED_OPAQUE_HANDLES(TARVESK_CHECK_OPAQUE_HANDLE)

#define TARVESK_CHECK_RECORD_SIZE(record, size) \
  static_assert(sizeof(record) == (size), "sizeof(" #record ") must be " #size);
TARVESK_EXPECTED_RECORD_SIZES(TARVESK_CHECK_RECORD_SIZE)

#define TARVESK_CHECK_FIELD_OFFSET(record, field, offset) \
  static_assert(offsetof(record, field) == (offset),      \
                #record "::" #field " must be at byte " #offset);
TARVESK_EXPECTED_FIELD_OFFSETS(TARVESK_CHECK_FIELD_OFFSET)

// A bit-field's place shows in the record's bytes: set alone to all ones, it
// sets exactly the expected bits of the expected word, and one more wraps it
// to zero, so it is no wider either.
template <typename Record>
struct Words {
  static_assert(sizeof(Record) % 4 == 0, "records with bit-fields are whole 32-bit words");
  std::uint32_t word[sizeof(Record) / 4];
};

template <typename Record, typename Setter>
constexpr bool onlyBitsSet(Setter setField, unsigned index, std::uint32_t bits) {
  Record record{};
  setField(record);
  const Words<Record> words = __builtin_bit_cast(Words<Record>, record);
  for (unsigned i = 0; i < sizeof(Record) / 4; ++i) {
    if (words.word[i] != (i == index ? bits : 0u)) {
      return false;
    }
  }
  return true;
}

constexpr std::uint32_t ones(unsigned width) {
  return static_cast<std::uint32_t>((1ull << width) - 1);
}

#define TARVESK_CHECK_BIT_FIELD(record, field, index, first, width)                  \
  static_assert(onlyBitsSet<record>([](record &r) { r.field = ones(width); }, index, \
                                    ones(width) << (first)) &&                       \
                    onlyBitsSet<record>(                                             \
                        [](record &r) {                                              \
                          r.field = ones(width);                                     \
                          r.field = r.field + 1;                                     \
                        },                                                           \
                        index, 0),                                                   \
                #record "::" #field " must be bits " #first " (" #width " wide) of word " #index);
TARVESK_EXPECTED_BIT_FIELDS(TARVESK_CHECK_BIT_FIELD)

// The function's address converts only to a pointer of exactly its type
// (and picks our overload where the C library has one of the same name).
template <typename Function>
constexpr bool hasType(Function) {
  return true;
}

#define TARVESK_CHECK_FUNCTION(function, result, convention, parameters) \
  static_assert(hasType<result(convention *) parameters>(&function),     \
                #function " must be " #result " " #function #parameters);
TARVESK_EXPECTED_FUNCTIONS(TARVESK_CHECK_FUNCTION)

static_assert(std::is_same_v<decltype(TEXT("COM")), const WCHAR (&)[4]>,
              "TEXT must make WCHAR strings");

// The bridge copies jchar into WCHAR and keeps an address in a jlong.
static_assert(sizeof(jchar) == sizeof(WCHAR), "a Java char must be one WCHAR");
static_assert(sizeof(jint) == 4 && sizeof(jlong) == 8 && sizeof(jbyte) == 1,
              "JNI integer types must have Java's sizes");
static_assert(std::is_signed_v<jbyte> && std::is_signed_v<jint>,
              "Java's bytes and ints are signed");
static_assert(sizeof(void *) <= sizeof(jlong), "an address must fit in nativeHandle");

}  // namespace

// The handle constants are casts from integers, which a constant expression
// may not contain. The optimiser folds each comparison; a call that survives
// it is a mismatch and stops the compile with the name in the message.
#define TARVESK_CHECK_HANDLE_CONSTANT(name, bits)                          \
  void name##_differs() __attribute__((error(#name " must hold " #bits))); \
  void checkHandleConstant_##name() {                                      \
    if (reinterpret_cast<std::uintptr_t>(name) != (bits)) {                \
      name##_differs();                                                    \
    }                                                                      \
  }
TARVESK_EXPECTED_HANDLE_CONSTANTS(TARVESK_CHECK_HANDLE_CONSTANT)
