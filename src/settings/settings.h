// The settings file beside the executable: sections "BVX", "ShortCuts" and
// "Track". TSettings reads it into the drive table; SaveSettings writes what
// the options dialog holds, key by key.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drives/drive_table.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/ini.h"

namespace bvx {

inline constexpr std::uint16_t kDefaultOpenShortCut = 0xC0DB;   // Ctrl+Alt+[
inline constexpr std::uint16_t kDefaultCloseShortCut = 0xC0DD;  // Ctrl+Alt+]

struct ShortcutPair {
  std::uint16_t Open = 0;
  std::uint16_t Close = 0;
  friend bool operator==(const ShortcutPair&, const ShortcutPair&) = default;
};

// The executable's full path with the text from the last "." of its file
// name replaced by ".ini" (appended when the file name has no ".").
std::string SettingsFileName(std::string_view exe_path);

// Reads the settings into the table in the load order (see settings.cpp);
// the file text is parsed once. contents are the file's bytes (UTF-16 with a
// byte-order mark is decoded, see settings/file_text.h) and may be empty (no
// file).
void ReadSettings(std::string_view contents, Drives& drives);
void ReadSettings(const ini::IniDocument& ini, Drives& drives);

// Writes the settings key by key in the save order; each key reaches the file
// when it is written, in the file's own encoding: by an atomic replace, or
// into the file itself when it has several names or its name is a symbolic
// link (so that every name sees it). A write that another program refuses
// for a moment (it holds the file or its copy) is tried again for about a
// second. A failed write shows "Unable to write to <path>." in an error box
// titled with the application title and stops the save there.
// Returns false when it stopped. track_flags holds one flag per pair (a
// missing one counts as set, as a missing key does on reading).
bool SaveSettings(Os& os, ui::Toolkit& toolkit, const std::string& path, int default_position,
                  int wait_seconds, std::span<const ShortcutPair> shortcuts,
                  std::span<const std::uint8_t> track_flags);

// The settings file of the running executable, read into the drive table.
class TSettings {
 public:
  TSettings(Os& os, Drives& drives) : os_(os), drives_(drives) {}

  // The executable's path with its extension replaced (SettingsFileName).
  std::string File() const;
  // Reads the file into the table in the load order. A file that cannot be
  // read (or decoded) counts as a missing one: every key takes its default.
  void Load();

 private:
  Os& os_;
  Drives& drives_;
};

}  // namespace bvx
