// The program's own INI reader and writer.
#include "settings/ini.h"

#include "platform/errors.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace bvx::ini {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A blank that is no part of a line end.
constexpr bool IsSpace(char c) { return c != '\r' && IsBlank(c); }

// Where an empty value sits: after the blanks that follow "=", so that
// "k = " becomes "k = 5" and never "k =5 ", but before a CR.
std::size_t EmptyValueAt(const char* base, std::size_t pos, std::size_t limit) {
  while (pos < limit && IsSpace(base[pos])) ++pos;
  return pos;
}

// FNV-1a over the folded bytes.
std::uint32_t FoldHash(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (char c : s) {
    h ^= static_cast<unsigned char>(Fold(c));
    h *= 16777619u;
  }
  return h;
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  return -1;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;  // empty, a lone sign or a lone prefix
  // The magnitude may reach 2^63 for the most negative number.
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  const unsigned base = hex ? 16 : 10;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i], hex);
    if (d < 0) return std::nullopt;
    if (magnitude > (limit - static_cast<unsigned>(d)) / base) return std::nullopt;
    magnitude = magnitude * base + static_cast<unsigned>(d);
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  if (magnitude == 0) return 0;
  return -static_cast<std::int64_t>(magnitude - 1) - 1;
}

// --- parsing -----------------------------------------------------------------

namespace {

// One line: its content with blanks trimmed, and where the next line starts.
struct Line {
  std::size_t begin = 0, end = 0;
  std::size_t next = 0;
  bool has_line_end = false;
};

Line ReadLine(const char* base, std::size_t pos, std::size_t limit) {
  const void* nl = std::memchr(base + pos, '\n', limit - pos);
  Line line;
  const std::size_t line_end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - base) : limit;
  line.next = nl ? line_end + 1 : limit;
  line.has_line_end = nl != nullptr;
  line.begin = pos;
  line.end = line_end;
  while (line.begin < line.end && IsBlank(base[line.begin])) ++line.begin;
  while (line.end > line.begin && IsBlank(base[line.end - 1])) --line.end;
  return line;
}

}  // namespace

IniDocument::IniDocument(std::string text) : text_(std::move(text)) {
  ToPos(text_.size());
  Parse();
}

IniDocument::IniDocument(std::string text, std::initializer_list<std::string_view> sections)
    : text_(std::move(text)), wanted_(sections.begin(), sections.end()) {
  ToPos(text_.size());
  Parse();
}

bool IniDocument::Wanted(std::string_view section) const {
  if (wanted_.empty()) return true;
  for (const std::string& w : wanted_)
    if (EqualNoCase(w, section)) return true;
  return false;
}

IniDocument::Pos IniDocument::ToPos(std::size_t p) {
  if (p >= std::numeric_limits<Pos>::max()) throw Error("INI text of 4 GiB or more");
  return static_cast<Pos>(p);
}

void IniDocument::Parse() {
  const char* const base = text_.data();
  const std::size_t size = text_.size();
  start_ = std::string_view(text_).starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;

  bool line_end_seen = false;
  std::size_t open = std::string::npos;  // the indexed section the lines belong to
  for (std::size_t pos = start_; pos < size;) {
    const Line line = ReadLine(base, pos, size);
    if (line.has_line_end && !line_end_seen) {
      line_end_seen = true;
      crlf_ = line.next >= 2 && base[line.next - 2] == '\r';
    }
    // A header: the name runs to the first "]"; a line without one is no header.
    if (line.begin < line.end && base[line.begin] == '[') {
      if (const void* close = std::memchr(base + line.begin + 1, ']', line.end - line.begin - 1)) {
        std::size_t nb = line.begin + 1;
        std::size_t ne = static_cast<std::size_t>(static_cast<const char*>(close) - base);
        while (nb < ne && IsBlank(base[nb])) ++nb;
        while (ne > nb && IsBlank(base[ne - 1])) --ne;
        if (open != std::string::npos) sections_[open].body_end = ToPos(pos);
        open = std::string::npos;
        if (Wanted(View(nb, ne - nb))) {
          Section s;
          s.name = ToPos(nb);
          s.name_len = ToPos(ne - nb);
          s.header_end = ToPos(line.next);
          s.body_end = ToPos(size);
          s.hash = FoldHash(View(nb, ne - nb));
          open = sections_.size();
          sections_.push_back(s);
        }
      }
    }
    pos = line.next;
  }
  BuildSectionTable();
}

void IniDocument::IndexKeys(std::size_t index) const {
  Section& s = sections_[index];
  if (s.keys_indexed) return;
  s.keys_indexed = true;
  s.first_key = static_cast<std::uint32_t>(keys_.size());
  s.key_count = 0;
  const char* const base = text_.data();
  for (std::size_t pos = s.header_end; pos < s.body_end;) {
    const Line line = ReadLine(base, pos, s.body_end);
    pos = line.next;
    // Blank lines, comments, broken headers and lines without "=" are no keys.
    if (line.begin == line.end || base[line.begin] == ';' || base[line.begin] == '[') continue;
    const void* eq = std::memchr(base + line.begin, '=', line.end - line.begin);
    if (eq == nullptr) continue;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(eq) - base);
    std::size_t ne = at;
    while (ne > line.begin && IsBlank(base[ne - 1])) --ne;
    std::size_t vb = at + 1;
    while (vb < line.end && IsBlank(base[vb])) ++vb;
    std::size_t ve = line.end;
    if (vb == ve) vb = ve = EmptyValueAt(base, vb, line.next);
    keys_.push_back(Key{ToPos(line.begin), ToPos(ne - line.begin), ToPos(vb), ToPos(ve - vb),
                        ToPos(line.next)});
    ++s.key_count;
  }
}

void IniDocument::BuildSectionTable() {
  std::size_t slots = 16;
  while (slots < 2 * sections_.size()) slots *= 2;
  table_.assign(slots, 0);
  for (std::size_t i = 0; i < sections_.size(); ++i) AddToSectionTable(i);
}

void IniDocument::AddToSectionTable(std::size_t index) {
  const Section& s = sections_[index];
  const std::string_view name = View(s.name, s.name_len);
  const std::size_t mask = table_.size() - 1;
  for (std::size_t slot = s.hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = table_[slot];
    if (entry == 0) {
      table_[slot] = static_cast<std::uint32_t>(index + 1);
      return;
    }
    const Section& other = sections_[entry - 1];
    if (other.hash == s.hash && EqualNoCase(View(other.name, other.name_len), name)) return;
  }
}

std::size_t IniDocument::FindSection(std::string_view name) const {
  if (!Wanted(name)) throw Error("section not indexed: " + std::string(name));
  const std::uint32_t hash = FoldHash(name);
  const std::size_t mask = table_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = table_[slot];
    if (entry == 0) return std::string::npos;
    const Section& s = sections_[entry - 1];
    if (s.hash == hash && EqualNoCase(View(s.name, s.name_len), name)) return entry - 1;
  }
}

std::size_t IniDocument::FindKey(std::size_t section, std::string_view name) const {
  IndexKeys(section);
  const Section& s = sections_[section];
  for (std::size_t i = s.first_key; i < s.first_key + s.key_count; ++i) {
    const Key& k = keys_[i];
    if (k.name_len == name.size() && EqualNoCase(View(k.name, k.name_len), name)) return i;
  }
  return std::string::npos;
}

// --- reading -------------------------------------------------------------------

std::optional<std::string_view> IniDocument::ReadString(std::string_view section,
                                                        std::string_view key) const {
  const std::size_t s = FindSection(section);
  if (s == std::string::npos) return std::nullopt;
  const std::size_t k = FindKey(s, key);
  if (k == std::string::npos) return std::nullopt;
  std::string_view value = View(keys_[k].value, keys_[k].value_len);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::int32_t IniDocument::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t def) const {
  const std::optional<std::string_view> text = ReadString(section, key);
  if (!text) return def;
  const std::optional<std::int64_t> value = ParseInteger(*text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max()) {
    return def;
  }
  return static_cast<std::int32_t>(*value);
}

bool IniDocument::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

// --- writing -------------------------------------------------------------------

void IniDocument::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  const std::size_t s = FindSection(section);
  if (s == std::string::npos) {
    AppendSection(section, key, value);
  } else if (const std::size_t k = FindKey(s, key); k != std::string::npos) {
    ReplaceValue(k, value);
  } else {
    InsertKey(s, key, value);
  }
}

void IniDocument::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniDocument::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniDocument::Shift(std::size_t at, std::ptrdiff_t delta, bool ends_at_too) {
  const auto moved = [delta](Pos p) { return static_cast<Pos>(static_cast<std::ptrdiff_t>(p) + delta); };
  const auto begin = [&](Pos& p) {
    if (p >= at) p = moved(p);
  };
  const auto end = [&](Pos& p) {
    if (p > at || (ends_at_too && p == at)) p = moved(p);
  };
  for (Section& s : sections_) {
    begin(s.name);
    end(s.header_end);
    end(s.body_end);
  }
  for (Key& k : keys_) {
    begin(k.name);
    begin(k.value);
    end(k.end);
  }
}

void IniDocument::ReplaceValue(std::size_t index, std::string_view value) {
  Key& key = keys_[index];
  const Pos at = key.value;
  const std::size_t old_end = key.value + key.value_len;
  ToPos(text_.size() - key.value_len + value.size());
  text_.replace(at, key.value_len, value);
  // Everything from the old value's end on moves, the line's own end with it.
  Shift(old_end, static_cast<std::ptrdiff_t>(value.size()) - static_cast<std::ptrdiff_t>(key.value_len),
        true);
  key.value = at;
  key.value_len = ToPos(value.size());
  if (value.empty()) {
    // Where a fresh parse of the new text puts it: from just past "=" on.
    std::size_t eq_end = at;
    while (eq_end > key.name && IsBlank(text_[eq_end - 1])) --eq_end;
    key.value = ToPos(EmptyValueAt(text_.data(), eq_end, key.end));
  }
}

void IniDocument::InsertKey(std::size_t index, std::string_view key, std::string_view value) {
  Section& section = sections_[index];  // its keys are indexed: the lookup before did that
  // After the section's last key line, or after the header when it has none.
  Pos& prev_end =
      section.key_count > 0 ? keys_[section.first_key + section.key_count - 1].end : section.header_end;
  const std::size_t at = prev_end;
  const std::string_view eol = LineEnd();
  // A previous line that ends the text without a line end gets one, and the
  // new last line goes without, as the text had it.
  const bool eol_before = text_[at - 1] != '\n';
  std::string line;
  line.reserve(key.size() + value.size() + 3);
  if (eol_before) line += eol;
  line += key;
  line += '=';
  line += value;
  if (!eol_before) line += eol;
  ToPos(text_.size() + line.size());
  text_.insert(at, line);
  // An empty value that ends the unterminated last line sits at `at` too:
  // it stays on its line, before the line end that goes in now.
  Key* empty_last = nullptr;
  if (eol_before && section.key_count > 0) {
    Key& last = keys_[section.first_key + section.key_count - 1];
    if (last.value == at) empty_last = &last;
  }
  // The new line belongs to this section; the next section starts after it.
  const bool body_ends_here = section.body_end == at;
  Shift(at, static_cast<std::ptrdiff_t>(line.size()), false);
  if (body_ends_here) section.body_end = ToPos(at + line.size());
  if (eol_before) prev_end = ToPos(at + eol.size());
  if (empty_last != nullptr) empty_last->value = ToPos(at);

  Key k;
  k.name = ToPos(at + (eol_before ? eol.size() : 0));
  k.name_len = ToPos(key.size());
  k.value = ToPos(k.name + key.size() + 1);
  k.value_len = ToPos(value.size());
  k.end = ToPos(at + line.size());
  const std::uint32_t pos = section.first_key + section.key_count;
  ++section.key_count;
  // Key ranges of the other indexed sections at or past the new entry move up.
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (i != index && sections_[i].keys_indexed && sections_[i].first_key >= pos) ++sections_[i].first_key;
  }
  keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(pos), k);
}

void IniDocument::AppendSection(std::string_view section, std::string_view key,
                                std::string_view value) {
  const std::string_view eol = LineEnd();
  std::string add;
  const std::size_t size = text_.size();
  if (size > start_) {
    // Finish the last line, then leave one blank line unless the text ends with one.
    const bool ends_with_eol = text_[size - 1] == '\n';
    if (!ends_with_eol) {
      add += eol;
      // The last line now has a line end: it belongs to that line.
      if (!sections_.empty() && sections_.back().body_end == size) {
        Section& last = sections_.back();
        Pos& line_end = last.keys_indexed && last.key_count > 0
                                    ? keys_[last.first_key + last.key_count - 1].end
                                    : last.header_end;
        if (line_end == size) line_end = ToPos(size + eol.size());
      }
    }
    const std::size_t last_end = ends_with_eol ? size - 1 : size;
    std::size_t last_begin = last_end;
    while (last_begin > start_ && text_[last_begin - 1] != '\n') --last_begin;
    bool blank = true;
    for (std::size_t i = last_begin; i < last_end && blank; ++i) blank = IsBlank(text_[i]);
    if (!blank) add += eol;
  }
  const std::size_t header = size + add.size();
  add += '[';
  add += section;
  add += ']';
  add += eol;
  const std::size_t key_at = size + add.size();
  add += key;
  add += '=';
  add += value;
  add += eol;
  ToPos(text_.size() + add.size());
  text_ += add;

  // The blank lines before the new header stay with the section before it.
  if (!sections_.empty() && sections_.back().body_end == size) sections_.back().body_end = ToPos(header);
  Section s;
  s.name = ToPos(header + 1);
  s.name_len = ToPos(section.size());
  s.header_end = ToPos(key_at);
  s.body_end = ToPos(text_.size());
  s.hash = FoldHash(section);
  s.keys_indexed = true;
  s.first_key = static_cast<std::uint32_t>(keys_.size());
  s.key_count = 1;
  keys_.push_back(Key{ToPos(key_at), ToPos(key.size()), ToPos(key_at + key.size() + 1),
                      ToPos(value.size()), ToPos(text_.size())});
  sections_.push_back(s);
  if (2 * sections_.size() > table_.size()) {
    BuildSectionTable();
  } else {
    AddToSectionTable(sections_.size() - 1);
  }
}

}  // namespace bvx::ini
