// Calls every QuickTime operation through the program's entries, driven by
// the shared operation table, and checks what arrives and what comes back.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "QuickTimeOperations.h"
#include "QuickTimeTestSupport.h"
#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

// Visits every operation of the table: visit(entry, selector, kind, name).
template <typename Visitor>
void forEachOperation(Visitor&& visit) {
#define SKELBY_VISIT_OPERATION(group, routine, name, kind, result, params) \
  visit(&::name, quickTimeSelector(group, routine), QuickTimeResultKind::kind, #name);
  QUICKTIME_OPERATIONS(SKELBY_VISIT_OPERATION)
#undef SKELBY_VISIT_OPERATION
}

// A value that differs in every byte from call to call and argument to
// argument, so a swapped, dropped or truncated argument shows.
inline uint64_t testPattern(uint32_t selector, uint32_t argument) {
  uint64_t x = (uint64_t(selector) << 8 | argument) * 0x9E3779B97F4A7C15ull + 0x7F4A7C15ull;
  x ^= x >> 29;
  return x * 0xBF58476D1CE4E5B9ull;
}

template <typename T>
T fromPattern(uint64_t pattern) {
  T value;
  std::memcpy(&value, &pattern, sizeof value);  // the low bytes
  return value;
}

template <typename T>
bool sameLowBytes(uint64_t expected, const T& actual) {
  return std::memcmp(&expected, &actual, sizeof actual) == 0;
}

template <typename R, typename... A, size_t... I>
std::string checkRoundTrip(R (*entry)(A...), uint32_t selector, const char* name,
                           const RecordingLibrary& library, std::index_sequence<I...>) {
  static_assert(sizeof...(A) <= kRecordedSlots, "the recording library keeps too few argument slots");
  std::ostringstream problems;
  const uint64_t values[] = {testPattern(selector, I)..., 0};
  const uint64_t resultPattern = testPattern(selector, 99);
  library.clear();
  library.setNextResult(static_cast<intptr_t>(resultPattern));
  library.setLibraryResult(static_cast<intptr_t>(resultPattern));
  if constexpr (std::is_void<R>::value) {
    entry(fromPattern<A>(values[I])...);
    library.setLibraryResult(0);
  } else {
    const R result = entry(fromPattern<A>(values[I])...);
    library.setLibraryResult(0);
    if (!sameLowBytes(resultPattern, result)) problems << name << ": result changed on its way back. ";
  }
  if (library.count() != 1) {
    problems << name << ": the library saw " << library.count() << " calls. ";
    return problems.str();
  }
  const RecordedCall* call = library.call(0);
  if (call->selector != selector) {
    problems << name << ": selector 0x" << std::hex << call->selector << " instead of 0x" << selector
             << std::dec << ". ";
  }
  const bool sameArguments[] = {sameLowBytes(values[I], fromPattern<A>(call->slots[I]))..., true};
  for (size_t i = 0; i < sizeof...(A); ++i) {
    if (!sameArguments[i]) {
      problems << name << ": argument " << i << " arrived as 0x" << std::hex << call->slots[i]
               << ", passed 0x" << values[i] << std::dec << ". ";
    }
  }
  return problems.str();
}

// Calls the operation with distinct argument values and a distinct result
// set in the recording library; empty when everything arrived unchanged.
template <typename R, typename... A>
std::string checkRoundTrip(R (*entry)(A...), uint32_t selector, const char* name,
                           const RecordingLibrary& library) {
  return checkRoundTrip(entry, selector, name, library, std::index_sequence_for<A...>{});
}

// Calls the operation with all arguments zero while no library is bound:
// error codes must be -2095, references and numbers 0. Empty when they are.
template <typename R, typename... A>
std::string checkUnboundResult(R (*entry)(A...), QuickTimeResultKind kind, const char* name) {
  if constexpr (std::is_void<R>::value) {
    entry(A{}...);
    return std::string();
  } else {
    const R result = entry(A{}...);
    bool expected = false;
    if constexpr (std::is_integral<R>::value) {
      expected = kind == QuickTimeResultKind::ErrorCode ? result == R(errQtNotInitialized) : result == R{};
    } else {
      expected = kind != QuickTimeResultKind::ErrorCode && result == R{};
    }
    return expected ? std::string() : std::string(name) + ": wrong result while unbound. ";
  }
}

// Every operation of the table, unbound; empty when all answered as above.
inline std::string checkEveryOperationUnbound() {
  std::string problems;
  forEachOperation([&](auto entry, uint32_t, QuickTimeResultKind kind, const char* name) {
    problems += checkUnboundResult(entry, kind, name);
  });
  return problems;
}

// Every operation of the table through the recording library.
inline std::string checkEveryOperationRoundTrip(const RecordingLibrary& library) {
  std::string problems;
  forEachOperation([&](auto entry, uint32_t selector, QuickTimeResultKind, const char* name) {
    problems += checkRoundTrip(entry, selector, name, library);
  });
  return problems;
}
