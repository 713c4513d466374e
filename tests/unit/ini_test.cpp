// The INI reader and writer: integers, tolerant reading, first-wins for
// duplicates, and writes that touch nothing but their own value or line; the
// file's bytes as text (UTF-16 decoded and encoded back).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "settings/file_text.h"
#include "settings/ini.h"

namespace bvx::ini {
namespace {

TEST(IniInteger, ParsesSignedDecimalAndHexAndNothingElse) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> value;
  };
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const Case cases[] = {
      {"30", 30},
      {"+30", 30},
      {"-5", -5},
      {"-0", 0},
      {"007", 7},
      {"0x1E", 30},
      {"0X1e", 30},
      {"$1E", 30},
      {"$1e", 30},
      {"-$1E", -30},
      {"+0x1E", 30},
      {"49371", 49371},
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      {"$7FFFFFFFFFFFFFFF", kMax},
      {"-0x8000000000000000", kMin},
      // Too large for 64 bits: no integer.
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"$8000000000000000", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      // Not integers at all.
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"x1E", std::nullopt},
      {"1E", std::nullopt},
      {"$1G", std::nullopt},
      {"12a", std::nullopt},
      {"1.5", std::nullopt},
      {"1 2", std::nullopt},
      {" 3", std::nullopt},
      {"--3", std::nullopt},
      {"true", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(IniRead, IntegersAndBooleansOutsideTheirRangeTakeTheDefault) {
  const IniDocument ini(
      "[S]\n"
      "max=2147483647\n"
      "min=-2147483648\n"
      "over=2147483648\n"
      "under=-2147483649\n"
      "hex=$FFFFFFFF\n"
      "word=true\n"
      "two=2\n"
      "zero=0\n"
      "empty=\n"
      "quoted=\"0x1E\"\n");
  EXPECT_EQ(ini.ReadInteger("S", "max", 7), 2147483647);
  EXPECT_EQ(ini.ReadInteger("S", "min", 7), -2147483647 - 1);
  EXPECT_EQ(ini.ReadInteger("S", "over", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "under", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "hex", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("S", "quoted", 7), 30);
  EXPECT_EQ(ini.ReadInteger("S", "missing", 7), 7);
  EXPECT_TRUE(ini.ReadBool("S", "word", true));
  EXPECT_FALSE(ini.ReadBool("S", "word", false));
  EXPECT_TRUE(ini.ReadBool("S", "two", false));
  EXPECT_FALSE(ini.ReadBool("S", "zero", true));
  EXPECT_TRUE(ini.ReadBool("S", "over", true));
}

TEST(IniRead, ToleratesTheWaysAFileIsWritten) {
  struct Case {
    const char* name;
    std::string text;
    std::string section, key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"byte-order mark", "\xEF\xBB\xBF[BVX]\r\nDefault=2\r\n", "BVX", "Default", "2"},
      {"LF only", "[BVX]\nDefault=2\n", "BVX", "Default", "2"},
      {"no final line end", "[BVX]\r\nDefault=2", "BVX", "Default", "2"},
      {"blanks everywhere", "  [ BVX ]  \r\n \t Default \t=\t 2  \r\n", "BVX", "Default", "2"},
      {"section case", "[bvx]\nDefault=2\n", "BVX", "Default", "2"},
      {"key case", "[BVX]\nDEFAULT=2\n", "bvx", "default", "2"},
      {"value keeps inner blanks", "[S]\nk = a b \n", "S", "k", "a b"},
      {"= inside the value", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"single quotes", "[S]\nk='x'\n", "S", "k", "x"},
      {"unmatched quote kept", "[S]\nk=\"x\n", "S", "k", "\"x"},
      {"empty value", "[S]\nk=\n", "S", "k", ""},
      {"line without =", "[S]\nk\nk=1\n", "S", "k", "1"},
      {"line without = is no key", "[S]\nk\n", "S", "k", std::nullopt},
      {"comment", "[S]\n;k=1\n", "S", "k", std::nullopt},
      {"commented header", ";[S]\nk=1\n", "S", "k", std::nullopt},
      {"before any section", "k=1\n[S]\n", "S", "k", std::nullopt},
      {"header without ]", "[S]\n[T\nk=1\n", "S", "k", "1"},
      {"text after ]", "[S] ; the S\nk=1\n", "S", "k", "1"},
      {"other section", "[S]\nk=1\n[T]\n", "T", "k", std::nullopt},
      {"no such section", "[S]\nk=1\n", "T", "k", std::nullopt},
      {"prefix is no match", "[S]\nk1=1\n", "S", "k", std::nullopt},
      {"duplicate key: first", "[S]\nk=1\nk=2\n", "S", "k", "1"},
      {"duplicate section: first", "[S]\nk=1\n[s]\nk=2\n", "S", "k", "1"},
      {"key only in the second", "[S]\nj=1\n[S]\nk=2\n", "S", "k", std::nullopt},
      {"empty file", "", "S", "k", std::nullopt},
  };
  for (const Case& c : cases) {
    const IniDocument ini(c.text);
    const std::optional<std::string_view> got = ini.ReadString(c.section, c.key);
    EXPECT_EQ(got ? std::optional<std::string>(std::string(*got)) : std::nullopt, c.value) << c.name;
  }
}

TEST(IniWrite, ChangesOnlyWhatItMust) {
  struct Case {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
  };
  const Case cases[] = {
      {"value replaced in place", "[S]\r\n  k = 10  ; x\r\nj=1\r\n", "S", "k", "300",
       "[S]\r\n  k = 300\r\nj=1\r\n"},
      {"spacing kept", "[S]\r\nk =  10 \r\n", "S", "k", "3", "[S]\r\nk =  3 \r\n"},
      {"names keep their case", "[bvx]\nwaitfor=1\n", "BVX", "WaitFor", "2", "[bvx]\nwaitfor=2\n"},
      {"empty value", "[S]\nk=\nj=1\n", "S", "k", "5", "[S]\nk=5\nj=1\n"},
      {"empty value at the end", "[S]\nk=", "S", "k", "5", "[S]\nk=5"},
      {"empty value after its blanks", "[S]\nk = \nj=1\n", "S", "k", "5", "[S]\nk = 5\nj=1\n"},
      {"empty value before the CR", "[S]\r\nk =\t\r\n", "S", "k", "5", "[S]\r\nk =\t5\r\n"},
      {"quoted value replaced whole", "[S]\nk=\"1\"\n", "S", "k", "5", "[S]\nk=5\n"},
      {"first duplicate key", "[S]\nk=1\nk=2\n", "S", "k", "9", "[S]\nk=9\nk=2\n"},
      {"first duplicate section", "[S]\nj=1\n[S]\nk=2\n", "S", "k", "9", "[S]\nj=1\nk=9\n[S]\nk=2\n"},
      {"new key after the last key, before blanks and comments",
       "[S]\r\nj=1\r\n\r\n; about T\r\n[T]\r\nk=2\r\n", "S", "k", "9",
       "[S]\r\nj=1\r\nk=9\r\n\r\n; about T\r\n[T]\r\nk=2\r\n"},
      {"new key past lines without =", "[S]\nj=1\njunk\n", "S", "k", "9", "[S]\nj=1\nk=9\njunk\n"},
      {"new key in a section without keys", "[S]\r\n\r\n[T]\r\n", "S", "k", "9",
       "[S]\r\nk=9\r\n\r\n[T]\r\n"},
      {"new key, last line without line end", "[S]\nj=1", "S", "k", "9", "[S]\nj=1\nk=9"},
      {"new key, header without line end", "[S]", "S", "k", "9", "[S]\r\nk=9"},
      {"key before the first section is not the section's", "k=1\n[S]\n", "S", "k", "9",
       "k=1\n[S]\nk=9\n"},
      {"new file", "", "S", "k", "9", "[S]\r\nk=9\r\n"},
      {"only a byte-order mark", "\xEF\xBB\xBF", "S", "k", "9", "\xEF\xBB\xBF[S]\r\nk=9\r\n"},
      {"new section after a blank line", "[S]\nj=1\n", "T", "k", "9", "[S]\nj=1\n\n[T]\nk=9\n"},
      {"new section, no final line end", "[S]\nj=1", "T", "k", "9", "[S]\nj=1\n\n[T]\nk=9\n"},
      {"new section, blank line there already", "[S]\r\nj=1\r\n\r\n", "T", "k", "9",
       "[S]\r\nj=1\r\n\r\n[T]\r\nk=9\r\n"},
      {"line end of the file, not of the program", "; c\n", "T", "k", "9", "; c\n\n[T]\nk=9\n"},
  };
  for (const Case& c : cases) {
    IniDocument ini(c.before);
    ini.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(ini.Text(), c.after) << c.name;
    EXPECT_EQ(ini.ReadString(c.section, c.key), std::optional<std::string_view>(c.value)) << c.name;
  }
}

TEST(IniWrite, IntegersAndBooleans) {
  IniDocument ini;
  ini.WriteInteger("S", "a", -5);
  ini.WriteInteger("S", "b", 49371);
  ini.WriteBool("S", "c", true);
  ini.WriteBool("S", "d", false);
  EXPECT_EQ(ini.Text(), "[S]\r\na=-5\r\nb=49371\r\nc=1\r\nd=0\r\n");
}

// A value emptied by a write sits where a fresh parse of the new text puts
// it, so the next write lands in the same place either way.
TEST(IniWrite, AnEmptiedValueSitsWhereAFreshParsePutsIt) {
  const char* const texts[] = {"[S]\nk = X  \n", "[S]\nk =\tX\n", "[S]\r\nk=\rX\r\n", "[S]\nk=X"};
  for (const char* text : texts) {
    IniDocument written(text);
    written.WriteString("S", "k", "");
    IniDocument fresh(written.Text());
    written.WriteString("S", "k", "5");
    fresh.WriteString("S", "k", "5");
    EXPECT_EQ(written.Text(), fresh.Text()) << text;
    EXPECT_EQ(written.ReadString("S", "k"), std::optional<std::string_view>("5")) << text;
  }
}

// A key added after an empty value that ends the text leaves that value on
// its own line: the next write of it lands there, not in the new line.
TEST(IniWrite, AKeyAddedAfterAnEmptyLastValueLeavesItInItsLine) {
  struct Case {
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"[S]\nk=", "[S]\nk=5\nj=1"},
      {"[S]\nk =  ", "[S]\nk =  5\nj=1"},
      {"[S]\r\nk=", "[S]\r\nk=5\r\nj=1"},
  };
  for (const Case& c : cases) {
    IniDocument ini(c.before);
    ini.WriteString("S", "j", "1");
    ini.WriteString("S", "k", "5");
    EXPECT_EQ(ini.Text(), c.after) << c.before;
    EXPECT_EQ(ini.ReadString("S", "j"), std::optional<std::string_view>("1")) << c.before;
  }
}

// After any sequence of writes the index must describe the text exactly as a
// fresh parse of that text does; a position that was not moved right shows
// up as a wrong value or a write in the wrong place.
using namespace std::string_view_literals;

// The bytes of UTF-16 code units in either order.
std::string Units(std::u16string_view units, bool big_endian = false) {
  std::string bytes;
  for (const char16_t u : units) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

TEST(FileText, UnicodeFilesDecodeExactlyOrNotAtAll) {
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<FileEncoding> encoding;  // nothing: cannot be decoded
    std::string text;
  };
  const Case cases[] = {
      {"ANSI", "[BVX]\r\nDefault=2\r\n\xC4", FileEncoding::Bytes, "[BVX]\r\nDefault=2\r\n\xC4"},
      {"UTF-8 with its mark", "\xEF\xBB\xBF[BVX]\n", FileEncoding::Bytes, "\xEF\xBB\xBF[BVX]\n"},
      {"a lone FF", "\xFF", FileEncoding::Bytes, "\xFF"},
      {"UTF-16 LE", Units(u"\uFEFF[BVX]\r\nDefault=2\r\n"), FileEncoding::Utf16Le,
       "\xEF\xBB\xBF[BVX]\r\nDefault=2\r\n"},
      {"UTF-16 BE", Units(u"\uFEFF[BVX]\r\n", true), FileEncoding::Utf16Be, "\xEF\xBB\xBF[BVX]\r\n"},
      {"the mark alone", "\xFF\xFE", FileEncoding::Utf16Le, "\xEF\xBB\xBF"},
      {"Cyrillic, NUL, a surrogate pair", Units(u"\uFEFF; \u0414\u00E9\u0000\U0001F600\uFFFF"sv),
       FileEncoding::Utf16Le, "\xEF\xBB\xBF; \xD0\x94\xC3\xA9" + std::string(1, '\0') + "\xF0\x9F\x98\x80\xEF\xBF\xBF"},
      {"odd byte count", Units(u"\uFEFF[BVX]") + "\n", std::nullopt, ""},
      {"high surrogate last", Units(u"\uFEFFk=") + "\x3D\xD8", std::nullopt, ""},
      {"high surrogate before a letter", Units(u"\uFEFFk=") + "\x3D\xD8" + Units(u"a"), std::nullopt, ""},
      {"low surrogate alone", Units(u"\uFEFFk=") + std::string("\x00\xDE", 2) + Units(u"a"), std::nullopt, ""},
      {"low surrogate alone, big-endian", Units(u"\uFEFF", true) + "\xDE\x00", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const std::optional<FileText> got = DecodeFileText(c.bytes);
    ASSERT_EQ(got.has_value(), c.encoding.has_value()) << c.name;
    if (!got) continue;
    EXPECT_EQ(got->encoding, *c.encoding) << c.name;
    EXPECT_EQ(got->text, c.text) << c.name;
    EXPECT_EQ(EncodeFileText(got->text, got->encoding), c.bytes) << c.name << ": not the same bytes back";
  }
}

TEST(FileText, OnlyWellFormedUtf8BecomesUtf16) {
  const std::string broken[] = {"\xC3", "a\xA9", "\xC0\x80", "\xE0\x9F\xBF", "\xED\xA0\x80",
                                "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82"};
  for (const std::string& text : broken) {
    EXPECT_EQ(EncodeFileText(text, FileEncoding::Utf16Le), std::nullopt) << testing::PrintToString(text);
    EXPECT_EQ(EncodeFileText(text, FileEncoding::Bytes), text);
  }
}

TEST(IniWrite, TheIndexFollowsEveryWrite) {
  const std::string start =
      "\xEF\xBB\xBF; head\r\n"
      "orphan=1\r\n"
      "[A]\r\n"
      "k0 = x\r\n"
      "\r\n"
      "[B]\r\n"
      "; nothing\r\n"
      "[a]\r\n"
      "k1=shadowed\r\n"
      "[C]\r\n"
      "junk\r\n"
      "k2=\r\n"
      "k3=z";  // the last key ends the text without a line end
  const std::vector<std::string> sections = {"A", "B", "C", "D", "E"};
  const std::vector<std::string> keys = {"k0", "k1", "k2", "k3", "k4"};
  IniDocument ini(start);
  std::uint32_t state = 12345;
  const auto next = [&state](std::uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  for (int step = 0; step < 400; ++step) {
    const std::string& s = sections[next(static_cast<std::uint32_t>(sections.size()))];
    const std::string& k = keys[next(static_cast<std::uint32_t>(keys.size()))];
    const std::string value(next(12), static_cast<char>('a' + step % 26));
    ini.WriteString(s, k, value);
    ASSERT_EQ(ini.ReadString(s, k), std::optional<std::string_view>(value)) << "step " << step;
    const IniDocument fresh(ini.Text());
    for (const std::string& fs : sections)
      for (const std::string& fk : keys)
        ASSERT_EQ(ini.ReadString(fs, fk), fresh.ReadString(fs, fk)) << "step " << step << " " << fs << "/" << fk;
  }
  // What was there before the writes is still there.
  EXPECT_TRUE(ini.Text().starts_with("\xEF\xBB\xBF; head\r\norphan=1\r\n[A]\r\n"));
  EXPECT_NE(ini.Text().find("[B]\r\n"), std::string::npos);
  EXPECT_NE(ini.Text().find("; nothing\r\n"), std::string::npos);
  EXPECT_NE(ini.Text().find("[a]\r\nk1=shadowed\r\n"), std::string::npos);
}

}  // namespace
}  // namespace bvx::ini
