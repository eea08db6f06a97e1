// What a step that must fail reports, for tests of failures.
#pragma once

#include "support/temp_tree.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace borvantel::testing {

// The message of the Error (text::Failure or a kind of it) that `action`
// throws; fails the current test, and gives "", when it throws none.
template <typename Error = text::Failure>
std::string failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "no failure reported";
  return "";
}

// The same with `os` standing in for the system while `action` runs.
template <typename Error = text::Failure>
std::string failureOf(FailingOs& os, const std::function<void()>& action) {
  platform::ScopedOs guard(os);
  return failureOf<Error>(action);
}

// The same with the calls that `rule` matches failing.
template <typename Error = text::Failure>
std::string failureOf(const FailingOs::Rule& rule, const std::function<void()>& action) {
  FailingOs os;
  os.fail(rule);
  return failureOf<Error>(os, action);
}

}  // namespace borvantel::testing
