// The settings file beside the executable.
//
// Sections and keys:
//   [BVX]        Default, OpenShortCut, CloseShortCut (the default drive's
//                fallback), WaitFor (one value for all drives)
//   [ShortCuts]  OpenShortCut<n>, CloseShortCut<n> for drive n
//   [Track]      DoTrack<n> for drive n
// n is the drive's 1-based position in the drive table, in decimal.
//
// Values outside the ranges of the drive table count as follows: a "Default"
// of 0 or below, above 255 or above the drive count means drive 1; a
// shortcut outside 0..65535 is missing (the key's default); a negative
// "WaitFor" is stored as 0; any number outside the signed 32-bit range is
// missing.
#include "settings/settings.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "settings/file_text.h"

namespace bvx {

namespace {

constexpr std::string_view kBvx = "BVX";
constexpr std::string_view kShortCuts = "ShortCuts";
constexpr std::string_view kTrack = "Track";
constexpr std::string_view kDefault = "Default";
constexpr std::string_view kOpenShortCut = "OpenShortCut";
constexpr std::string_view kCloseShortCut = "CloseShortCut";
constexpr std::string_view kWaitFor = "WaitFor";
constexpr std::string_view kDoTrack = "DoTrack";
constexpr std::int32_t kDefaultWaitFor = 10;

// The settings file, indexed for its own three sections only.
ini::IniDocument SettingsDocument(std::string text) {
  return ini::IniDocument(std::move(text), {kBvx, kShortCuts, kTrack});
}

// The settings file's bytes decoded; UTF-16 that cannot be decoded counts
// as no file.
ini::IniDocument SettingsDocumentOfBytes(std::string bytes) {
  std::optional<ini::FileText> file = ini::DecodeFileText(std::move(bytes));
  return SettingsDocument(file ? std::move(file->text) : std::string());
}

// "OpenShortCut" and 2 give "OpenShortCut2".
std::string Numbered(std::string_view stem, int n) { return std::string(stem) + std::to_string(n); }

std::uint16_t ReadShortCut(const ini::IniDocument& ini, std::string_view section,
                           std::string_view key, std::uint16_t def) {
  const std::optional<std::string_view> text = ini.ReadString(section, key);
  if (!text) return def;
  const std::optional<std::int64_t> value = ini::ParseInteger(*text);
  if (!value || *value < 0 || *value > 0xFFFF) return def;
  return static_cast<std::uint16_t>(*value);
}

// Whether name is stem (compared without regard to case) followed by one or
// more decimal digits and nothing else.
bool IsNumbered(std::string_view name, std::string_view stem) {
  return name.size() > stem.size() && ini::EqualNoCase(name.substr(0, stem.size()), stem) &&
         name.find_first_not_of("0123456789", stem.size()) == std::string_view::npos;
}

// Whether a save writes into the settings file itself instead of replacing
// it with a new file: when the file has other names too (hard links, as a
// package manager's "persist" folder makes them) or its name is a symbolic
// link. A new file would take the name alone, and the other names would
// keep the old text. Any other reparse point (a cloud file's placeholder)
// is the file's own name and keeps the atomic replace.
bool SavesInPlace(const FileLinks& links) {
  return links.names > 1 || links.name == NameKind::SymbolicLink;
}

// A write that another program refuses for a moment (a virus scanner, the
// indexer or a sync client with the file or its copy open) is tried again
// every kBusyRetryMs, for up to kBusyWaitMs in all.
constexpr unsigned kBusyRetryMs = 50;
constexpr unsigned kBusyWaitMs = 1000;

// The settings file's folder (with its separator) and its name.
struct SettingsName {
  std::string folder, name;
  explicit SettingsName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/:");
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    name = path.substr(folder.size());
  }
};

// What earlier saves left beside the settings file, never the settings file
// itself. Returns the names of the copies that stay, which a write in place
// must not take for its own.
//
// "<file name>.tmp-<digits>": a replace killed before it was done. While
// the settings file exists it is whole, so these go; beside a missing one
// they may hold the only settings there are, and stay for the user.
// "<file name>.new-<digits>": the complete text of a write in place; one
// that holds what the settings file holds now has done its work and goes.
// Any other may be the only complete copy of a write in place that stopped
// half-way (the settings file may be torn), or a copy cut short while the
// file stayed whole: which, no program can tell, so it stays for the user.
// A failure to list or delete changes nothing.
std::vector<std::string> TidyLeftovers(Os& os, const std::string& path,
                                       const std::optional<std::string>& now) {
  const SettingsName at(path);
  if (now) {
    for (const std::string& leftover : os.FindFiles(path + ".tmp-*"))
      if (IsNumbered(leftover, at.name + ".tmp-")) os.DeleteFile(at.folder + leftover);
  }
  std::vector<std::string> kept;
  for (const std::string& copy : os.FindFiles(path + ".new-*")) {
    if (!IsNumbered(copy, at.name + ".new-")) continue;
    bool done = false;
    try {
      const std::optional<std::string> text = os.ReadFile(at.folder + copy);
      if (!text) continue;  // gone meanwhile
      done = now && *text == *now;
    } catch (const Error&) {
      done = false;  // cannot be read: it stays
    }
    if (!done || !os.DeleteFile(at.folder + copy)) kept.push_back(copy);
  }
  return kept;
}

// The first copy name "<file name>.new-<n>" that none of taken has.
std::string FreeCopyName(const SettingsName& at, const std::vector<std::string>& taken) {
  for (int n = 1;; ++n) {
    const std::string copy = at.name + ".new-" + std::to_string(n);
    const bool used = std::any_of(taken.begin(), taken.end(),
                                  [&](const std::string& t) { return ini::EqualNoCase(t, copy); });
    if (!used) return at.folder + copy;
  }
}

// Writes the whole file's bytes for one key: an atomic replace, or into the
// file itself with a complete copy beside it. A write that another program
// refuses is tried again for a while. A copy that cannot be deleted keeps
// its name, and the next try takes the next free one.
class SettingsWriter {
 public:
  SettingsWriter(Os& os, const std::string& path, bool in_place, std::vector<std::string> taken)
      : os_(os), path_(path), at_(path), in_place_(in_place), taken_(std::move(taken)) {}
  SettingsWriter(const SettingsWriter&) = delete;
  SettingsWriter& operator=(const SettingsWriter&) = delete;
  // Before the save returns: one more try at the copies of this save that
  // could not be deleted (another program held them for a moment).
  ~SettingsWriter() {
    for (const std::string& copy : undeleted_) os_.DeleteFile(copy);
  }

  bool Write(const std::string& bytes) {
    for (unsigned waited = 0;; waited += kBusyRetryMs) {
      const WriteResult result = in_place_ ? Rewrite(bytes) : os_.ReplaceFile(path_, bytes);
      if (result == WriteResult::Written) return true;
      if (result != WriteResult::Busy || waited >= kBusyWaitMs) return false;
      os_.Sleep(kBusyRetryMs);
    }
  }

 private:
  WriteResult Rewrite(const std::string& bytes) {
    const std::string copy = FreeCopyName(at_, taken_);
    const RewriteResult r = os_.RewriteFile(path_, copy, bytes);
    if (r.copy_left) {
      taken_.push_back(copy.substr(at_.folder.size()));
      // A torn file's copy is the only complete text: it stays for good.
      if (r.write != WriteResult::Torn) undeleted_.push_back(copy);
    }
    return r.write;
  }

  Os& os_;
  const std::string& path_;
  SettingsName at_;
  bool in_place_;
  std::vector<std::string> taken_;     // copy names (without the folder) not to take
  std::vector<std::string> undeleted_;  // full paths
};

// Writes the keys in the save order, each to the file as it is written;
// false at the first that cannot be written.
bool WriteKeys(SettingsWriter& writer, ini::FileText file, int default_position, int wait_seconds,
               std::span<const ShortcutPair> shortcuts, std::span<const std::uint8_t> track_flags) {
  ini::IniDocument ini = SettingsDocument(std::move(file.text));
  const auto write = [&](std::string_view section, std::string_view key, std::string_view value) {
    ini.WriteString(section, key, value);
    const std::optional<std::string> bytes = ini::EncodeFileText(ini.Text(), file.encoding);
    return bytes && writer.Write(*bytes);
  };
  const auto integer = [](std::int64_t v) { return std::to_string(v); };
  const auto boolean = [](bool v) { return std::string(v ? "1" : "0"); };

  if (!write(kBvx, kDefault, integer(default_position))) return false;
  if (!write(kBvx, kWaitFor, integer(wait_seconds))) return false;
  for (std::size_t i = 0; i < shortcuts.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const ShortcutPair& pair = shortcuts[i];
    if (!write(kShortCuts, Numbered(kOpenShortCut, n), integer(pair.Open))) return false;
    if (!write(kShortCuts, Numbered(kCloseShortCut, n), integer(pair.Close))) return false;
    if (n == default_position) {
      if (!write(kBvx, kOpenShortCut, integer(pair.Open))) return false;
      if (!write(kBvx, kCloseShortCut, integer(pair.Close))) return false;
    }
    const bool track = i < track_flags.size() ? track_flags[i] != 0 : true;
    if (!write(kTrack, Numbered(kDoTrack, n), boolean(track))) return false;
  }
  return true;
}

}  // namespace

std::string SettingsFileName(std::string_view exe_path) {
  // The extension starts at the last "." after the last folder separator;
  // a dot in a folder name is no extension.
  const std::size_t name = exe_path.find_last_of("\\/:");
  const std::size_t dot = exe_path.rfind('.');
  const bool has_extension = dot != std::string_view::npos && (name == std::string_view::npos || dot > name);
  std::string path(has_extension ? exe_path.substr(0, dot) : exe_path);
  return path + ".ini";
}

void ReadSettings(std::string_view contents, Drives& drives) {
  ReadSettings(SettingsDocumentOfBytes(std::string(contents)), drives);
}

void ReadSettings(const ini::IniDocument& ini, Drives& drives) {
  const std::int32_t position = ini.ReadInteger(kBvx, kDefault, drives.DefaultDrive);
  drives.DefaultDrive =
      position >= 1 && position <= drives.DriveCount ? static_cast<std::uint8_t>(position) : 1;

  // The default drive's fallback, read before its own keys.
  TCDROM& first = drives.DriveTable[drives.DefaultDrive];
  first.OpenShortCut = ReadShortCut(ini, kBvx, kOpenShortCut, kDefaultOpenShortCut);
  first.CloseShortCut = ReadShortCut(ini, kBvx, kCloseShortCut, kDefaultCloseShortCut);

  for (int n = 1; n <= drives.DriveCount; ++n) {
    TCDROM& d = drives.DriveTable[n];
    d.OpenShortCut = ReadShortCut(ini, kShortCuts, Numbered(kOpenShortCut, n), d.OpenShortCut);
    d.CloseShortCut = ReadShortCut(ini, kShortCuts, Numbered(kCloseShortCut, n), d.CloseShortCut);
    const std::int32_t wait = ini.ReadInteger(kBvx, kWaitFor, kDefaultWaitFor);
    d.WaitFor = wait < 0 ? 0u : static_cast<std::uint32_t>(wait);
    d.DoTrack = ini.ReadBool(kTrack, Numbered(kDoTrack, n), true);
  }
}

bool SaveSettings(Os& os, ui::Toolkit& toolkit, const std::string& path, int default_position,
                  int wait_seconds, std::span<const ShortcutPair> shortcuts,
                  std::span<const std::uint8_t> track_flags) {
  // The file is read once; after every successful write it equals the
  // document, so each key is a read-modify-write of the whole file. The
  // replace is atomic: the file is always the complete old or new one. A
  // file with several names, or under a symbolic link, is written into
  // itself instead, so that every name sees the new text; a complete copy
  // of it lies beside the file while that runs.
  // A file that exists but cannot be read, or is marked read-only, is never
  // written over: the save stops before its first key, as if that key could
  // not be written. So is UTF-16 that cannot be decoded exactly. A file is
  // written back in its own encoding.
  std::optional<std::string> old;
  std::optional<ini::FileText> file;
  try {
    old = os.ReadFile(path);
    if (!old || !os.IsReadOnly(path)) file = old ? ini::DecodeFileText(*old) : ini::FileText{};
  } catch (const Error&) {
    file.reset();
  }
  bool saved = false;
  if (file) {
    std::vector<std::string> kept = TidyLeftovers(os, path, old);
    const bool in_place = SavesInPlace(os.QueryFileLinks(path));
    SettingsWriter writer(os, path, in_place, std::move(kept));
    saved = WriteKeys(writer, std::move(*file), default_position, wait_seconds, shortcuts, track_flags);
  }
  if (!saved) ui::ShowStandardError(toolkit, "Unable to write to " + path);
  return saved;
}

// --- TSettings ---------------------------------------------------------------------

std::string TSettings::File() const { return SettingsFileName(os_.ModulePath()); }

void TSettings::Load() {
  std::optional<std::string> text;
  try {
    text = os_.ReadFile(File());
  } catch (const Error&) {
    text.reset();
  }
  ReadSettings(SettingsDocumentOfBytes(text ? std::move(*text) : std::string()), drives_);
}

}  // namespace bvx
