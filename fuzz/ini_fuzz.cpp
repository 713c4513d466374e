// The INI reader and writer on arbitrary text.
//
// Reading: the whole input is parsed twice (every section indexed, and only
// the settings file's three sections), and every key the plain model of
// common/ini_model.h finds must read the same through both, as must its
// integer and boolean reading. Nothing may crash, hang or read out of bounds.
//
// Writing: a few writes, chosen by the input's last bytes, go to the text
// before them. Each must give exactly the text the model computes, keep
// every line but the written key's own byte for byte, read back as written
// (through the written document's updated index and through a fresh
// parse), and change no other key. The same writes on the three-section
// document must give the same text as on the full one.
//
// Encodings: the input is the file's bytes. UTF-16 with a byte-order mark
// is read and written through its text (settings/file_text.h), any other
// input as it is; everything above holds for that text. Decoding gives the
// bytes back exactly when encoded again, and fails exactly for UTF-16 that
// the plain model cannot decode; encoding to UTF-16 fails exactly for text
// that is not well-formed UTF-8 and otherwise decodes back. After every
// write to a UTF-16 file the text encodes, and decodes back to itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/check.h"
#include "common/ini_model.h"
#include "settings/file_text.h"
#include "settings/ini.h"

namespace bvx::fuzz {
namespace {

constexpr std::string_view kSettingsSections[] = {"BVX", "ShortCuts", "Track"};

// What one read through a document must agree with.
// where() names the document in a report.
template <typename Where>
void CheckReads(const ini::IniDocument& doc, const ModelValues& model, bool settings_only,
                const Where& where) {
  for (const auto& [names, value] : model) {
    const auto& [section, key] = names;
    if (settings_only && section != "bvx" && section != "shortcuts" && section != "track") continue;
    const auto read = doc.ReadString(section, key);
    FUZZ_CHECK(read.has_value() && *read == value,
               where() + ": [" + section + "] " + Quoted(key) + " reads " +
                   (read ? Quoted(*read) : std::string("nothing")) + ", the model " + Quoted(value));
    const std::optional<std::int64_t> parsed = ModelInteger(value);
    FUZZ_CHECK(ini::ParseInteger(value) == parsed, where() + ": integer of " + Quoted(value));
    const bool fits = parsed && *parsed >= std::numeric_limits<std::int32_t>::min() &&
                      *parsed <= std::numeric_limits<std::int32_t>::max();
    const std::int32_t expect = fits ? static_cast<std::int32_t>(*parsed) : -7;
    FUZZ_CHECK(doc.ReadInteger(section, key, -7) == expect, where() + ": ReadInteger of " + Quoted(value));
    FUZZ_CHECK(doc.ReadBool(section, key, true) == (fits ? *parsed != 0 : true),
               where() + ": ReadBool of " + Quoted(value));
  }
}

// One write, chosen before the text is known: names and values come from
// fixed lists, from the text itself (by index), or are built from a small
// alphabet of the characters that matter to the reader.
struct Choice {
  std::uint8_t kind = 0;
  std::uint8_t index = 0;
  std::uint64_t bits = 0;
};
struct Op {
  Choice section, key, value;
  bool as_integer = false;
};

Choice TakeChoice(FuzzedDataProvider& in) {
  Choice c;
  c.kind = in.ConsumeIntegral<std::uint8_t>();
  c.index = in.ConsumeIntegral<std::uint8_t>();
  c.bits = in.ConsumeIntegral<std::uint64_t>();
  return c;
}

std::string Built(std::uint64_t bits) {
  static constexpr std::string_view kAlphabet("aZ0 ;[]=\"'\t$x-\xC3\xA9\0\r\nQ_.", 23);
  std::string s;
  const unsigned length = bits % 9;
  bits /= 9;
  for (unsigned i = 0; i < length; ++i) {
    s += kAlphabet[bits % kAlphabet.size()];
    bits /= kAlphabet.size();
  }
  return s;
}

std::string SectionName(const Choice& c, const std::vector<std::string>& existing) {
  static constexpr std::string_view kFixed[] = {"BVX", "ShortCuts", "Track", "bvx", "SHORTCUTS", "Other", ""};
  switch (c.kind % 3) {
    case 0:
      return std::string(kFixed[c.index % std::size(kFixed)]);
    case 1:
      if (!existing.empty()) return existing[c.index % existing.size()];
      return "BVX";
    default:
      return Built(c.bits);
  }
}

std::string KeyName(const Choice& c, const ModelValues& values) {
  static constexpr std::string_view kFixed[] = {"Default",       "WaitFor",       "OpenShortCut",
                                                "CloseShortCut", "OpenShortCut1", "CloseShortCut26",
                                                "DoTrack3",      "doTRACK3",      ""};
  switch (c.kind % 3) {
    case 0:
      return std::string(kFixed[c.index % std::size(kFixed)]);
    case 1:
      if (!values.empty()) {
        auto it = values.begin();
        std::advance(it, c.index % values.size());
        return it->first.second;
      }
      return "Default";
    default:
      return Built(c.bits);
  }
}

std::string Value(const Choice& c, const ModelValues& values) {
  switch (c.kind % 3) {
    case 0:
      return std::to_string(static_cast<std::int64_t>(c.bits));
    case 1:
      if (!values.empty()) {
        auto it = values.begin();
        std::advance(it, c.index % values.size());
        return it->second;
      }
      return "1";
    default:
      return Built(c.bits);
  }
}

// The file's bytes decode and encode without loss; UTF-16 fails exactly
// where the model says so.
void CheckEncodings(const std::string& bytes) {
  bool utf16 = false;
  const std::optional<std::string> model = ModelFileText(bytes, &utf16);
  const std::optional<ini::FileText> file = ini::DecodeFileText(bytes);
  FUZZ_CHECK(file.has_value() == model.has_value(),
             std::string(file ? "decoded" : "refused") + " UTF-16 that the model " +
                 (model ? "decodes" : "refuses"));
  if (file) {
    FUZZ_CHECK(file->text == *model, "decoded another text than the model");
    FUZZ_CHECK((file->encoding != ini::FileEncoding::Bytes) == utf16, "took the encoding for another");
    FUZZ_CHECK(ini::EncodeFileText(file->text, file->encoding) == bytes,
               "the decoded text does not encode back to the same bytes");
  }
  // The bytes as the text of a new UTF-16 file of either order.
  const std::string text = "\xEF\xBB\xBF" + bytes;
  for (const ini::FileEncoding encoding : {ini::FileEncoding::Utf16Le, ini::FileEncoding::Utf16Be}) {
    const std::optional<std::string> encoded = ini::EncodeFileText(text, encoding);
    FUZZ_CHECK(encoded.has_value() == ModelWellFormedUtf8(text),
               std::string(encoded ? "encoded" : "refused") + " text that the model calls " +
                   (encoded ? "broken" : "well-formed") + " UTF-8");
    if (!encoded) continue;
    const std::optional<ini::FileText> back = ini::DecodeFileText(*encoded);
    FUZZ_CHECK(back && back->encoding == encoding && back->text == text,
               "text encoded as UTF-16 does not decode back to itself");
  }
}

// Applies one write to doc and checks it against the model and the rule
// for the other lines. Returns false when the op lies outside the writer's
// domain (nothing is written then); for a UTF-16 file names and values are
// besides well-formed UTF-8.
bool WriteAndCheck(ini::IniDocument& doc, const std::string& section, const std::string& key,
                   const std::string& value, bool as_integer, bool settings_only,
                   ini::FileEncoding encoding) {
  if (!SectionNameWritable(section) || !KeyNameWritable(key) || !ValueWritable(value)) return false;
  if (encoding != ini::FileEncoding::Bytes &&
      !(ModelWellFormedUtf8(section) && ModelWellFormedUtf8(key) && ModelWellFormedUtf8(value))) {
    return false;
  }
  const std::string before = doc.Text();
  const std::string expected = ModelWrite(before, section, key, value);
  const std::optional<std::int64_t> integer = as_integer ? ModelInteger(value) : std::nullopt;
  if (integer && std::to_string(*integer) == value) {
    doc.WriteInteger(section, key, *integer);
  } else {
    doc.WriteString(section, key, value);
  }
  const std::string& after = doc.Text();
  const auto what = [&] {
    return "write [" + section + "] " + Quoted(key) + " = " + Quoted(value) + " into " +
           Quoted(before.size() <= 400 ? before : before.substr(0, 400) + "...");
  };
  FUZZ_CHECK(after == expected, what() + ": gave " + Quoted(after) + ", the model " + Quoted(expected));
  const std::string broken = CheckWriteKeepsOtherLines(before, after, section, key, value);
  FUZZ_CHECK(broken.empty(), what() + ": " + broken);

  // Read back through the updated index and through a fresh parse.
  const auto back = doc.ReadString(section, key);
  FUZZ_CHECK(back && *back == value,
             what() + ": reads back " + (back ? Quoted(*back) : std::string("nothing")));
  const ModelValues old_values = ModelRead(before);
  const ModelValues new_values = ModelRead(after);
  for (const auto& [names, old_value] : old_values) {
    if (names == std::make_pair(Folded(section), Folded(key))) continue;
    const auto it = new_values.find(names);
    FUZZ_CHECK(it != new_values.end() && it->second == old_value,
               what() + ": changed [" + names.first + "] " + Quoted(names.second));
  }
  if (encoding != ini::FileEncoding::Bytes) {
    const std::optional<std::string> bytes = ini::EncodeFileText(after, encoding);
    FUZZ_CHECK(bytes.has_value(), what() + ": the written text does not encode");
    const std::optional<ini::FileText> back = ini::DecodeFileText(*bytes);
    FUZZ_CHECK(back && back->encoding == encoding && back->text == after,
               what() + ": the written file does not decode back to its text");
  }
  CheckReads(doc, new_values, settings_only, [&] { return what() + " (written document)"; });
  const auto fresh = [&] { return what() + " (fresh parse)"; };
  if (settings_only) {
    CheckReads(ini::IniDocument(after, {"BVX", "ShortCuts", "Track"}), new_values, true, fresh);
  } else {
    CheckReads(ini::IniDocument(after), new_values, false, fresh);
  }
  return true;
}

}  // namespace
}  // namespace bvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bvx;
  using namespace bvx::fuzz;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckEncodings(bytes);
  const std::optional<ini::FileText> file = ini::DecodeFileText(bytes);

  // --- reading the whole input ------------------------------------------------
  if (file) {
    const std::string& whole = file->text;
    const ModelValues model = ModelRead(whole);
    const ini::IniDocument full(whole);
    CheckReads(full, model, false, [] { return std::string("full index"); });
    const ini::IniDocument settings(whole, {"BVX", "ShortCuts", "Track"});
    CheckReads(settings, model, true, [] { return std::string("three-section index"); });
    // Missing keys and sections read as nothing, and the three-section
    // document refuses to be asked about any other section.
    FUZZ_CHECK(!full.ReadString("BVX", "\x01no such key").has_value(), "a missing key reads something");
    FUZZ_CHECK(full.ReadInteger("\x01no such section", "Default", 42) == 42,
               "a missing section reads something");
    bool refused = false;
    try {
      (void)settings.ReadString("Other", "x");
    } catch (const std::exception&) {
      refused = true;
    }
    FUZZ_CHECK(refused, "the three-section index answered about another section");
  }

  // --- writing ------------------------------------------------------------------
  FuzzedDataProvider in(data, size);
  std::vector<Op> ops(in.ConsumeIntegralInRange<std::size_t>(0, 6));
  for (Op& op : ops) {
    op.section = TakeChoice(in);
    op.key = TakeChoice(in);
    op.value = TakeChoice(in);
    op.as_integer = in.ConsumeBool();
  }
  std::optional<ini::FileText> decoded = ini::DecodeFileText(in.ConsumeRemainingBytesAsString());
  if (!decoded) return 0;
  const std::string& text = decoded->text;
  const ini::FileEncoding encoding = decoded->encoding;

  // Any names, on the fully indexed document.
  {
    ini::IniDocument doc(text);
    for (const Op& op : ops) {
      const ModelValues values = ModelRead(doc.Text());
      WriteAndCheck(doc, SectionName(op.section, ModelSections(doc.Text())), KeyName(op.key, values),
                    Value(op.value, values), op.as_integer, false, encoding);
    }
  }
  // The settings file's own sections, on both kinds of document at once.
  {
    ini::IniDocument full(text);
    ini::IniDocument three(text, {"BVX", "ShortCuts", "Track"});
    for (const Op& op : ops) {
      const ModelValues values = ModelRead(full.Text());
      const std::string section(kSettingsSections[op.section.index % std::size(kSettingsSections)]);
      const std::string key = KeyName(op.key, values);
      const std::string value = Value(op.value, values);
      if (!WriteAndCheck(three, section, key, value, op.as_integer, true, encoding)) continue;
      full.WriteString(section, key, value);
      FUZZ_CHECK(three.Text() == full.Text(),
                 "the three-section document wrote another text than the full one");
    }
  }
  return 0;
}
