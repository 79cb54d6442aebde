#pragma once
// A variable of the test process's environment, set (or unset) for as long as the object lives
// and then given back its earlier value: a test that points the log elsewhere must not leave
// the tests after it writing where it pointed, or into the real user's log.
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace velmora::testing {

class ScopedVariable {
 public:
  // Sets `name` to `value`; unsets it when there is none.
  ScopedVariable(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    Apply(value);
  }
  ~ScopedVariable() { Apply(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value)
      ::setenv(name_.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace velmora::testing
