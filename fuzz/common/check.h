// The fuzz targets' one assertion: a broken rule prints what broke and
// aborts, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace bvx::fuzz {

[[noreturn]] inline void Fail(std::string_view what) {
  std::fprintf(stderr, "\n*** broken rule: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace bvx::fuzz

// Checks a rule; the message is built only when the rule is broken.
#define FUZZ_CHECK(holds, message)            \
  do {                                        \
    if (!(holds)) ::bvx::fuzz::Fail(message); \
  } while (false)

namespace bvx::fuzz {

// A text as a C string literal, for the messages.
inline std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace bvx::fuzz
