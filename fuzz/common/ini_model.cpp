#include "common/ini_model.h"

#include <limits>
#include <set>

namespace bvx::fuzz {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::size_t Start(std::string_view text) { return text.starts_with(kBom) ? kBom.size() : 0; }

// The section name of a header line ("[" first, a "]" later), trimmed.
std::optional<std::string_view> HeaderName(std::string_view content) {
  const std::string_view t = Trim(content);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']', 1);
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// A key line: trimmed, not a comment or a (broken) header, with an "=".
struct KeyLine {
  std::string_view name;
  std::size_t value_begin = 0, value_end = 0;  // of the trimmed value, in the whole text
};
std::optional<KeyLine> ParseKeyLine(const ModelLine& line) {
  const std::string_view t = Trim(line.content);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::size_t t_at = line.begin + static_cast<std::size_t>(t.data() - line.content.data());
  KeyLine k;
  k.name = Trim(t.substr(0, eq));
  const std::string_view rest = t.substr(eq + 1);
  const std::string_view value = Trim(rest);
  k.value_begin = t_at + eq + 1 + static_cast<std::size_t>(value.data() - rest.data());
  if (value.empty()) {
    // An empty value sits after the blanks that follow "=", before a CR.
    std::size_t at = t_at + eq + 1 - line.begin;
    while (at < line.content.size() && line.content[at] != '\r' && IsIniBlank(line.content[at])) ++at;
    k.value_begin = line.begin + at;
  }
  k.value_end = k.value_begin + value.size();
  return k;
}

std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// The line end added lines get: that of the first line end after the
// byte-order mark, CRLF when there is none.
std::string_view LineEndOf(std::string_view text) {
  const std::size_t nl = text.find('\n', Start(text));
  if (nl == std::string_view::npos) return "\r\n";
  return nl >= 1 && text[nl - 1] == '\r' ? "\r\n" : "\n";
}

bool HasAny(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}

bool BlankAtAnEnd(std::string_view s) {
  return !s.empty() && (IsIniBlank(s.front()) || IsIniBlank(s.back()));
}

std::string Describe(std::string_view what, std::size_t line) {
  return std::string(what) + " (line " + std::to_string(line + 1) + ")";
}

}  // namespace

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::optional<std::int64_t> ModelInteger(std::string_view t) {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  unsigned base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (t.size() - i >= 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == t.size()) return std::nullopt;
  unsigned __int128 magnitude = 0;
  const unsigned __int128 most = static_cast<unsigned __int128>(1) << 63;  // |INT64_MIN|
  for (; i < t.size(); ++i) {
    const char c = t[i];
    unsigned d = 0;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    magnitude = magnitude * base + d;
    if (magnitude > most) return std::nullopt;
  }
  if (!negative && magnitude == most) return std::nullopt;
  const __int128 signed_value =
      negative ? -static_cast<__int128>(magnitude) : static_cast<__int128>(magnitude);
  return static_cast<std::int64_t>(signed_value);
}

std::vector<ModelLine> ModelLines(std::string_view text) {
  std::vector<ModelLine> lines;
  std::size_t pos = Start(text);
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    ModelLine l;
    l.begin = pos;
    l.terminated = nl != std::string_view::npos;
    l.content = text.substr(pos, (l.terminated ? nl : text.size()) - pos);
    lines.push_back(l);
    pos = l.terminated ? nl + 1 : text.size();
  }
  return lines;
}

std::vector<std::string_view> RawLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

ModelValues ModelRead(std::string_view text) {
  ModelValues values;
  std::set<std::string> seen;
  std::optional<std::string> current;  // the folded name while in a first section
  for (const ModelLine& line : ModelLines(text)) {
    if (const auto name = HeaderName(line.content)) {
      std::string folded = Folded(*name);
      if (seen.insert(folded).second) {
        current = std::move(folded);
      } else {
        current.reset();
      }
      continue;
    }
    if (!current) continue;
    if (const auto key = ParseKeyLine(line)) {
      const std::string_view value = text.substr(key->value_begin, key->value_end - key->value_begin);
      values.emplace(std::make_pair(*current, Folded(key->name)), std::string(Unquoted(value)));
    }
  }
  return values;
}

std::vector<std::string> ModelSections(std::string_view text) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const ModelLine& line : ModelLines(text)) {
    if (const auto name = HeaderName(line.content)) {
      std::string folded = Folded(*name);
      if (seen.insert(folded).second) names.push_back(std::move(folded));
    }
  }
  return names;
}

bool SectionNameWritable(std::string_view name) {
  return !HasAny(name, std::string_view("\r\n]=", 4)) && !BlankAtAnEnd(name);
}

bool KeyNameWritable(std::string_view name) {
  if (HasAny(name, std::string_view("\r\n]=", 4)) || BlankAtAnEnd(name)) return false;
  return name.empty() || (name.front() != ';' && name.front() != '[');
}

bool ValueWritable(std::string_view value) {
  if (HasAny(value, "\r\n") || BlankAtAnEnd(value)) return false;
  return Unquoted(value).size() == value.size();
}

std::string ModelWrite(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::string_view eol = LineEndOf(text);
  const std::vector<ModelLine> lines = ModelLines(text);
  const std::string want_section = Folded(section);
  const std::string want_key = Folded(key);
  std::string line_text = std::string(key) + "=" + std::string(value);

  std::size_t header = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = HeaderName(lines[i].content);
    if (name && Folded(*name) == want_section) {
      header = i;
      break;
    }
  }
  if (header < lines.size()) {
    std::size_t after = header;  // the line the new key follows
    for (std::size_t i = header + 1; i < lines.size() && !HeaderName(lines[i].content); ++i) {
      const auto k = ParseKeyLine(lines[i]);
      if (!k) continue;
      if (Folded(k->name) == want_key) {
        return std::string(text.substr(0, k->value_begin)) + std::string(value) +
               std::string(text.substr(k->value_end));
      }
      after = i;
    }
    const ModelLine& prev = lines[after];
    const std::size_t at = prev.begin + prev.content.size() + (prev.terminated ? 1 : 0);
    const std::string added = prev.terminated ? line_text + std::string(eol) : std::string(eol) + line_text;
    return std::string(text.substr(0, at)) + added + std::string(text.substr(at));
  }

  std::string out(text);
  if (text.size() > Start(text)) {
    if (text.back() != '\n') out += eol;
    // One blank line before the new header, unless the last line is blank.
    const std::string_view last = lines.back().content;
    if (!Trim(last).empty()) out += eol;
  }
  out += "[" + std::string(section) + "]" + std::string(eol) + line_text + std::string(eol);
  return out;
}

std::string CheckWriteKeepsOtherLines(std::string_view before, std::string_view after,
                                      std::string_view section, std::string_view key,
                                      std::string_view value) {
  const std::vector<std::string_view> a = RawLines(before);
  const std::vector<std::string_view> b = RawLines(after);
  const std::string key_line = std::string(key) + "=" + std::string(value);
  const auto strip_eol = [](std::string_view l) {
    if (l.ends_with('\n')) l.remove_suffix(1);
    if (l.ends_with('\r')) l.remove_suffix(1);
    return l;
  };
  const ModelValues old_values = ModelRead(before);
  const std::string fs = Folded(section);
  const std::string fk = Folded(key);

  if (old_values.count({fs, fk}) != 0) {
    // The key's own line changes in its value alone; every other line stays.
    if (a.size() != b.size()) return "a replaced value changed the number of lines";
    bool changed = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      if (changed) return Describe("a second line changed", i);
      changed = true;
      // The old line with its value (trimmed, quotes and all) replaced.
      ModelLine line;
      line.content = strip_eol(a[i]);
      const auto parsed = ParseKeyLine(line);
      if (!parsed || Folded(parsed->name) != fk) return Describe("the changed line is not the key's", i);
      const std::string expected = std::string(a[i].substr(0, parsed->value_begin)) + std::string(value) +
                                   std::string(a[i].substr(parsed->value_end));
      if (b[i] != expected) return Describe("bytes outside the value changed", i);
    }
    return {};
  }

  const std::vector<std::string> sections = ModelSections(before);
  bool section_exists = false;
  for (const std::string& s : sections) section_exists = section_exists || s == fs;
  if (section_exists) {
    // One line more: the key's; without it the text is as it was, except
    // that an unterminated last line before it gains a line end.
    if (b.size() != a.size() + 1) return "an added key is not exactly one line more";
    std::size_t j = 0;
    while (j < a.size() && a[j] == b[j]) ++j;
    const std::string last = j < a.size() ? std::string(a[j]) : std::string();
    if (j == a.size() - 1 && !a[j].ends_with('\n') && (b[j] == last + "\n" || b[j] == last + "\r\n") &&
        b[j + 1] == key_line) {
      return {};  // the key went after an unterminated last line
    }
    if (strip_eol(b[j]) != key_line) return Describe("the added line is not key=value", j);
    if (j + 1 < b.size() && !b[j].ends_with('\n')) return Describe("the added line has no line end", j);
    for (std::size_t i = j; i < a.size(); ++i)
      if (a[i] != b[i + 1]) return Describe("a line after the added key changed", i);
    return {};
  }

  // A new section at the end: the old text is a prefix (its last line may
  // gain a line end), then at most one blank line, the header and the key.
  std::string_view rest = after;
  if (!rest.starts_with(before)) return "an appended section changed the text before it";
  rest.remove_prefix(before.size());
  const auto take_eol = [&rest] {
    if (rest.starts_with("\r\n")) {
      rest.remove_prefix(2);
      return true;
    }
    if (rest.starts_with("\n")) {
      rest.remove_prefix(1);
      return true;
    }
    return false;
  };
  take_eol();
  take_eol();
  const std::string header = "[" + std::string(section) + "]";
  if (!rest.starts_with(header)) return "the appended header is not [section]";
  rest.remove_prefix(header.size());
  if (!take_eol()) return "the appended header has no line end";
  if (!rest.starts_with(key_line)) return "the appended key is not key=value";
  rest.remove_prefix(key_line.size());
  if (!take_eol() || !rest.empty()) return "the appended key line does not end the text";
  return {};
}

std::optional<std::string> ModelFileText(std::string_view bytes, bool* utf16) {
  const bool little = bytes.starts_with("\xFF\xFE");
  const bool big = bytes.starts_with("\xFE\xFF");
  if (utf16 != nullptr) *utf16 = little || big;
  if (!little && !big) return std::string(bytes);
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::vector<unsigned> units;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const unsigned a = static_cast<unsigned char>(bytes[i]);
    const unsigned b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(little ? a + 256 * b : 256 * a + b);
  }
  const auto is_high = [](unsigned u) { return u >= 0xD800 && u < 0xDC00; };
  const auto is_low = [](unsigned u) { return u >= 0xDC00 && u < 0xE000; };
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    unsigned c = units[i];
    if (is_low(c)) return std::nullopt;
    if (is_high(c)) {
      if (i + 1 == units.size() || !is_low(units[i + 1])) return std::nullopt;
      c = 0x10000 + (c - 0xD800) * 0x400 + (units[i + 1] - 0xDC00);
      ++i;
    }
    // Lead byte, then six bits a byte from the highest down.
    int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static constexpr unsigned kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[more] + (c >> (6 * more)));
    while (more-- > 0) out += static_cast<char>(0x80 + ((c >> (6 * more)) & 0x3F));
  }
  return out;
}

bool ModelWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  // Byte k of the sequence at i lies in lo..hi.
  const auto in = [&](std::size_t k, unsigned lo, unsigned hi) {
    if (i + k >= text.size()) return false;
    const unsigned b = static_cast<unsigned char>(text[i + k]);
    return b >= lo && b <= hi;
  };
  while (i < text.size()) {
    const unsigned b = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (b <= 0x7F) {
      length = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = in(1, 0x80, 0xBF) ? 2 : 0;
    } else if (b == 0xE0) {
      length = in(1, 0xA0, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      length = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
    } else if (b == 0xED) {
      length = in(1, 0x80, 0x9F) && in(2, 0x80, 0xBF) ? 3 : 0;
    } else if (b == 0xF0) {
      length = in(1, 0x90, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
    } else if (b >= 0xF1 && b <= 0xF3) {
      length = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
    } else if (b == 0xF4) {
      length = in(1, 0x80, 0x8F) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
    }
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace bvx::fuzz
