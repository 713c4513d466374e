// The settings file's bytes and the text the INI reader works on.
//
// A file that starts with a UTF-16 byte-order mark (FF FE little-endian, as
// Notepad's "Unicode" saves it, or FE FF big-endian) is UTF-16: its text is
// the UTF-8 form of every code unit, the mark included (it becomes EF BB BF,
// which the reader skips), and it is written back as UTF-16 of the same
// order. Any other file is its own text, byte for byte: ANSI, or UTF-8 with
// or without a byte-order mark.
//
// Nothing is lost on the way: EncodeFileText(DecodeFileText(bytes)) gives
// the bytes back. UTF-16 that cannot be decoded exactly (an odd number of
// bytes, a surrogate without its pair) is no text at all, and the settings
// file is then handled like one that cannot be read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bvx::ini {

enum class FileEncoding { Bytes, Utf16Le, Utf16Be };

struct FileText {
  FileEncoding encoding = FileEncoding::Bytes;
  std::string text;
};

// Nothing for UTF-16 that cannot be decoded exactly.
std::optional<FileText> DecodeFileText(std::string bytes);
// The bytes of the text in that encoding. Nothing when the encoding is
// UTF-16 and the text is not well-formed UTF-8.
std::optional<std::string> EncodeFileText(std::string_view text, FileEncoding encoding);

}  // namespace bvx::ini
