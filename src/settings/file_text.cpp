// The settings file's bytes and the text the INI reader works on.
#include "settings/file_text.h"

#include <cstdint>
#include <utility>

namespace bvx::ini {

namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUnit(std::string& out, std::uint32_t unit, bool big_endian) {
  const char high = static_cast<char>(unit >> 8);
  const char low = static_cast<char>(unit & 0xFF);
  out += big_endian ? high : low;
  out += big_endian ? low : high;
}

std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  const auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? (first << 8 | second) : (second << 8 | first);
  };
  std::string out;
  out.reserve(bytes.size() / 2 * 3);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDFFF) {
      // A high surrogate followed by a low one, or nothing.
      if (c >= 0xDC00 || i + 2 >= bytes.size()) return std::nullopt;
      const std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::optional<std::string> Utf8ToUtf16(std::string_view text, bool big_endian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t c = lead;
    std::size_t length = 1;
    if (lead >= 0x80) {
      if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
      } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
      } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
      } else {
        return std::nullopt;
      }
      if (text.size() - i < length) return std::nullopt;
      for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = c << 6 | (next & 0x3F);
      }
      // Overlong forms, surrogates and code points past U+10FFFF.
      if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
          (c >= 0xD800 && c <= 0xDFFF)) {
        return std::nullopt;
      }
    }
    i += length;
    if (c >= 0x10000) {
      AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10), big_endian);
      AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), big_endian);
    } else {
      AppendUnit(out, c, big_endian);
    }
  }
  return out;
}

}  // namespace

std::optional<FileText> DecodeFileText(std::string bytes) {
  const std::string_view view(bytes);
  for (const bool big_endian : {false, true}) {
    if (!view.starts_with(big_endian ? "\xFE\xFF" : "\xFF\xFE")) continue;
    std::optional<std::string> text = Utf16ToUtf8(view, big_endian);
    if (!text) return std::nullopt;
    return FileText{big_endian ? FileEncoding::Utf16Be : FileEncoding::Utf16Le, std::move(*text)};
  }
  return FileText{FileEncoding::Bytes, std::move(bytes)};
}

std::optional<std::string> EncodeFileText(std::string_view text, FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::Utf16Le:
      return Utf8ToUtf16(text, false);
    case FileEncoding::Utf16Be:
      return Utf8ToUtf16(text, true);
    case FileEncoding::Bytes:
      break;
  }
  return std::string(text);
}

}  // namespace bvx::ini
