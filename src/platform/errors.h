// Errors raised by the program and its toolkit.
//
// An error that escapes an event or message handler ends that handler; the
// toolkit's one dispatch boundary catches it and shows the standard error box
// (caption = application title, error icon, text with a closing full stop),
// then the program goes on with the next message.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace bvx {

// The toolkit's own errors and the program's raised errors.
// Not a std::runtime_error: linked statically, that class brings the run
// time's copy-on-write string with it (see src/platform/win32/cxx_throws.cpp).
class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  explicit Error(const char* message) : message_(message) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// An index outside its declared range (a drive index outside 1..26).
class RangeError : public Error {
 public:
  RangeError() : Error("Range check error") {}
};

// A registry operation that failed; caught by the autostart actions.
class RegistryError : public Error {
 public:
  using Error::Error;
};

// The text the standard error box shows: the message, with a full stop
// added when its last character sorts after "." (letters and digits do).
std::string StandardErrorText(std::string_view message);

}  // namespace bvx
