// A second, deliberately plain reading of the settings-file rules, for the
// fuzz targets to hold the real reader and writer against.
//
// Nothing here is clever: lines are split one by one, every lookup is a map
// built from a full pass, and a write is computed as the text it must give.
// Where ini::IniDocument and this model disagree, one of them is wrong.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bvx::fuzz {

// ASCII lower case, as names are compared.
std::string Folded(std::string_view s);

// Blanks the reader trims around lines, names and values.
bool IsIniBlank(char c);

// The reader's integer rule: an optional sign, then decimal digits or a
// hexadecimal number after "$", "0x" or "0X"; it must fit 64 bits signed.
std::optional<std::int64_t> ModelInteger(std::string_view text);

// One line of a text: where it starts, its bytes without the '\n', and
// whether a '\n' ends it.
struct ModelLine {
  std::size_t begin = 0;
  std::string_view content;
  bool terminated = false;
};
// The lines after the byte-order mark (if any).
std::vector<ModelLine> ModelLines(std::string_view text);
// Every line with its terminator, the byte-order mark part of the first one.
std::vector<std::string_view> RawLines(std::string_view text);

// The key/value pairs that count (first section of a name, first key of a
// name in it), by folded section and folded key. Values are as read:
// blanks trimmed and one pair of matching quotes removed.
using ModelValues = std::map<std::pair<std::string, std::string>, std::string>;
ModelValues ModelRead(std::string_view text);
// The folded names of every section header, first occurrences only.
std::vector<std::string> ModelSections(std::string_view text);

// Whether a name or value lies in the writer's domain, that is, reads back
// unchanged after it has been written.
bool SectionNameWritable(std::string_view name);
bool KeyNameWritable(std::string_view name);
bool ValueWritable(std::string_view value);

// The settings file's bytes as text: UTF-16 (FF FE little-endian or FE FF
// big-endian first) as UTF-8 of every code unit, the mark included; any other
// bytes as they are. Nothing for UTF-16 of an odd byte count or with a
// surrogate out of its pair. *utf16 (when given) tells whether the bytes
// were UTF-16.
std::optional<std::string> ModelFileText(std::string_view bytes, bool* utf16 = nullptr);
// Whether the text is well-formed UTF-8 (the byte sequences of the Unicode
// standard's table of them: no overlong forms, surrogates or code points
// past U+10FFFF).
bool ModelWellFormedUtf8(std::string_view text);

// The text that writing key = value into section must give.
std::string ModelWrite(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value);

// What a write did to the lines of a text, checked against the rule that
// every line but the written key's own stays byte for byte (see
// fuzz/README.md). Empty when the rule holds, else what broke it.
std::string CheckWriteKeepsOtherLines(std::string_view before, std::string_view after,
                                      std::string_view section, std::string_view key, std::string_view value);

}  // namespace bvx::fuzz
