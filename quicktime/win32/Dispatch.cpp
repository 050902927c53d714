// From (selector, argument slots) to a typed handler call.
//
// The assembly dispatcher hands over the selector and the address of the
// caller's first argument slot; every argument fills one slot of the
// machine's word size, its value in the slot's low bytes (the high bytes of a
// slot holding a narrower value are whatever the caller left there).
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "Operations.h"
#include "OutOfMemory.h"

namespace {

// What an operation's result is, as the operation table names it.
enum class ResultKind { ErrorCode, Reference, Number, Nothing };

template <typename T>
T slotValue(uintptr_t slot) {
  static_assert(sizeof(T) <= sizeof(uintptr_t), "every argument fits one slot");
  static_assert(std::is_trivially_copyable<T>::value, "arguments are plain values");
  T value;
  std::memcpy(&value, &slot, sizeof value);  // little-endian: the low bytes
  return value;
}

template <typename R>
intptr_t resultValue(R result) {
  if constexpr (std::is_pointer<R>::value) {
    return reinterpret_cast<intptr_t>(result);
  } else {
    // Error codes and numbers widen with their sign; the caller reads only
    // as many low bytes as its result type has.
    return static_cast<intptr_t>(result);
  }
}

template <typename R, typename... A, size_t... I>
intptr_t callWithSlots(R (*handler)(A...), const uintptr_t* slots, std::index_sequence<I...>) {
  if constexpr (std::is_void<R>::value) {
    handler(slotValue<A>(slots[I])...);
    return 0;
  } else {
    return resultValue(handler(slotValue<A>(slots[I])...));
  }
}

// Memory that runs out anywhere in the operation is told as memFullErr:
// the result of an error-code operation, GetMoviesError for every one (the
// others answer null or 0, as they do for any failure).
template <ResultKind kind, typename R, typename... A>
intptr_t callWithSlots(R (*handler)(A...), const uintptr_t* slots) {
  return qt::unlessMemoryRunsOut(
      [&] { return callWithSlots(handler, slots, std::index_sequence_for<A...>{}); },
      [] {
        qtlib::memoryRanOut();
        return kind == ResultKind::ErrorCode ? intptr_t(memFullErr) : intptr_t(0);
      });
}

}  // namespace

// noexcept: an exception must not unwind through the assembly entries into the
// program, which knows nothing of it. Memory running out is caught above;
// the handlers throw nothing else.
extern "C" intptr_t quickTimeDispatch(uint32_t selector, const uintptr_t* slots) noexcept {
  switch (selector) {
#define SKELBY_DISPATCH_CASE(group, routine, name, kind, result, params) \
  case quickTimeSelector(group, routine):                                \
    return callWithSlots<ResultKind::kind>(&qtlib::name, slots);
    QUICKTIME_OPERATIONS(SKELBY_DISPATCH_CASE)
#undef SKELBY_DISPATCH_CASE
  }
  // A selector this library does not know: answered like an operation not
  // implemented, which is what error-code callers expect; it is no valid
  // pointer either.
  return qtlib::unimpErr;
}
