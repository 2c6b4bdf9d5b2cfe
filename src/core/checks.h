// QUILLET_ASSERT: a precondition or invariant that the code relies on,
// checked at run time where it is cheap to learn of a broken one early: in
// every build without NDEBUG, and in builds with QUILLET_CHECKS defined (the
// build defines it when it builds the tests, the sanitizers or the fuzzers;
// RelWithDebInfo and Release set NDEBUG). Elsewhere the condition is not
// evaluated, so it must have no effect the program needs.
//
// A broken condition is a fault of the program, never of the user's input or
// files: it prints the condition, what it means and where, to standard
// error, and aborts. Errors a user can cause are quillet::Error exceptions.
// Layer: core (std only).
#pragma once

#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) || defined(QUILLET_CHECKS)
#define QUILLET_ASSERT(condition, what)                                                                                \
    ((condition) ? static_cast<void>(0)                                                                                \
                 : ::quillet::core::detail::assertionFailed(#condition, what, __FILE__, __LINE__))
#else
#define QUILLET_ASSERT(condition, what) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif

// Implementation details only, past this point.
namespace quillet::core::detail {

[[noreturn]] inline void assertionFailed(const char* condition, const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s (%s)\n", file, line, condition, what);
    std::abort();
}

} // namespace quillet::core::detail
