// Checks of the engine's errors: which JetError number a statement throws.
// The statement runs inside a lambda that captures by reference, so it may
// use the test's locals; a comma outside parentheses would split the macro's
// arguments, so parenthesise such a statement.
#pragma once

#include <exception>
#include <string>

#include <gtest/gtest.h>

#include "jet/error.h"

namespace testing_support {

// The number of the JetError `f` throws; 0 when it throws none. Any other
// exception goes on to the caller.
template <typename F>
int ErrorOf(F&& f) {
  try {
    f();
  } catch (const jet::JetError& e) {
    return e.number();
  }
  return 0;
}

// The JetError `f` throws as "number: message"; empty when it throws none.
template <typename F>
std::string JetErrorText(F&& f) {
  try {
    f();
  } catch (const jet::JetError& e) {
    return std::to_string(e.number()) + ": " + e.what();
  }
  return "";
}

// Success when `f` throws a JetError numbered `expected`; otherwise a
// message naming the number that came, or that nothing or something else
// was thrown.
template <typename F>
::testing::AssertionResult ThrowsJetError(const char* statement, F&& f, int expected) {
  std::string came;
  try {
    f();
    came = "no error";
  } catch (const jet::JetError& e) {
    if (e.number() == expected) return ::testing::AssertionSuccess();
    came = "error " + std::to_string(e.number()) + " (" + e.what() + ")";
  } catch (const std::exception& e) {
    came = std::string("a non-Jet exception: ") + e.what();
  }
  return ::testing::AssertionFailure()
         << statement << "\n  expected: Jet error " << expected << "\n  came: " << came;
}

}  // namespace testing_support

// The statement throws jet::JetError with this number.
#define EXPECT_JET_ERROR(statement, number)                                                  \
  switch (0)                                                                                 \
  case 0:                                                                                    \
  default:                                                                                   \
    if (const ::testing::AssertionResult jet_error_check_ =                                  \
            ::testing_support::ThrowsJetError(#statement, [&] { statement; }, (number)))     \
      ;                                                                                      \
    else                                                                                     \
      ADD_FAILURE() << jet_error_check_.message()

#define ASSERT_JET_ERROR(statement, number)                                                  \
  switch (0)                                                                                 \
  case 0:                                                                                    \
  default:                                                                                   \
    if (const ::testing::AssertionResult jet_error_check_ =                                  \
            ::testing_support::ThrowsJetError(#statement, [&] { statement; }, (number)))     \
      ;                                                                                      \
    else                                                                                     \
      GTEST_FAIL() << jet_error_check_.message()
