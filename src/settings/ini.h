// The program's own INI reader and writer.
//
// The text is parsed once, in one pass over its lines, into an index of its
// sections (positions into the text). A document can be told which sections
// it will be asked about; it then indexes only those, so a large file of
// unrelated sections costs that one pass and no memory. The keys of a section
// are indexed the first time that section is looked up. Every lookup goes
// through the index, never through the text again.
//
// Section and key names match without regard to case (ASCII folding). Where
// a section name occurs twice, the first section counts; in it, the first key
// of a name counts. Reads and writes use the same place.
//
// A write changes only what it must and leaves every other byte as it was:
// an existing value is replaced in place; a missing key is added after the
// last key line of its section (so before the blank lines and comments that
// follow it); a missing section is appended at the end of the text after a
// blank line. Added lines use the line end that the text already uses (the
// first one found), CRLF when the text has none. Each write costs time
// linear in the size of the text and of the index, never more.
//
// Reading tolerates a UTF-8 byte-order mark, CRLF or LF line ends, blanks
// around names, "=" and values, comment lines (";"), lines without "=", and
// lines before the first section (they belong to no section). A value
// enclosed in a matching pair of quotes is read without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bvx::ini {

// Equality of two names under ASCII case folding.
bool EqualNoCase(std::string_view a, std::string_view b);

// An integer as the settings file stores it: an optional sign followed by
// decimal digits, or by a hexadecimal number introduced by "$", "0x" or "0X".
// Nothing else is an integer (no blanks, nothing empty). A number that does
// not fit a signed 64-bit integer is no integer either.
std::optional<std::int64_t> ParseInteger(std::string_view text);

class IniDocument {
 public:
  IniDocument() : IniDocument(std::string()) {}
  // Indexes every section. Raises Error for a text of 4 GiB or more.
  explicit IniDocument(std::string text);
  // Indexes only the named sections; asking about any other one raises
  // Error.
  IniDocument(std::string text, std::initializer_list<std::string_view> sections);

  const std::string& Text() const { return text_; }
  // The line end added lines get: "\r\n" or "\n".
  std::string_view LineEnd() const { return crlf_ ? "\r\n" : "\n"; }

  // The value of the key (blanks around it and one pair of matching quotes
  // removed); nothing when the section or the key is missing.
  std::optional<std::string_view> ReadString(std::string_view section, std::string_view key) const;
  // The value read as an integer; def when it is missing, no integer, or
  // outside the signed 32-bit range.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  // 0 is false, any other integer true; def when ReadInteger would give def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Names and values must not hold line ends; names no "=" or "]". What is
  // written reads back unchanged when, besides, no name or value has blanks
  // at either end, a key does not start with ";" or "[", and a value is not
  // enclosed in a pair of matching quotes. Raises Error when the text would
  // reach 4 GiB.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Signed decimal.
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  // "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);

 private:
  // Positions in the text. 32 bits keep the index small; a text of 4 GiB or
  // more is refused.
  using Pos = std::uint32_t;
  struct Key {
    Pos name = 0, name_len = 0;    // the name, blanks trimmed
    Pos value = 0, value_len = 0;  // the value, blanks trimmed
    Pos end = 0;                   // just past the line and its line end
  };
  struct Section {
    Pos name = 0, name_len = 0;  // between the brackets, blanks trimmed
    Pos header_end = 0;          // just past the header line and its line end
    Pos body_end = 0;            // where the next header line starts, or the text ends
    std::uint32_t hash = 0;
    // Once indexed, its keys in file order: keys_[first_key .. first_key + key_count).
    std::uint32_t first_key = 0, key_count = 0;
    bool keys_indexed = false;
  };

  void Parse();
  bool Wanted(std::string_view section) const;
  void BuildSectionTable();
  void AddToSectionTable(std::size_t index);
  std::string_view View(std::size_t pos, std::size_t len) const { return {text_.data() + pos, len}; }
  // Index of the first section of that name, or npos.
  std::size_t FindSection(std::string_view name) const;
  // Indexes the keys of section `index` if that has not been done yet.
  void IndexKeys(std::size_t index) const;
  // Index in keys_ of the first key of that name in the section (indexing
  // the section first), or npos.
  std::size_t FindKey(std::size_t section, std::string_view name) const;

  // The value of key `index` (in keys_).
  void ReplaceValue(std::size_t index, std::string_view value);
  // A new key at the end of section `index`'s keys.
  void InsertKey(std::size_t index, std::string_view key, std::string_view value);
  void AppendSection(std::string_view section, std::string_view key, std::string_view value);
  // Moves every indexed position at or past `at` by delta; ends that fall
  // exactly on `at` move only when ends_at_too is set.
  void Shift(std::size_t at, std::ptrdiff_t delta, bool ends_at_too);
  // The position as stored; raises Error at 4 GiB.
  static Pos ToPos(std::size_t p);

  std::string text_;
  std::vector<std::string> wanted_;  // empty: every section
  std::size_t start_ = 0;            // past the byte-order mark
  bool crlf_ = true;
  // The indexed sections in file order. The key index is filled lazily by
  // const lookups.
  mutable std::vector<Section> sections_;
  mutable std::vector<Key> keys_;
  // Open addressing: section index + 1, 0 for an empty slot; only the first
  // section of each name is entered.
  std::vector<std::uint32_t> table_;
};

}  // namespace bvx::ini
