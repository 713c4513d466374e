#include "common/settings_text.h"

#include <string_view>

namespace bvx::bench {

namespace {

// Printable virtual keys: digits, letters, F1..F12.
unsigned KeyFor(int n) {
  static constexpr unsigned kKeys[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 'A', 'B',
                                       'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N',
                                       'O', 'P', 0x70, 0x71, 0x72, 0x73, 0x74, 0x75};
  return kKeys[static_cast<unsigned>(n) % (sizeof kKeys / sizeof kKeys[0])];
}

void Line(std::string& out, std::string_view text) {
  out += text;
  out += "\r\n";
}

std::string Settings(int drives) {
  std::string s;
  Line(s, "[BVX]");
  Line(s, "Default=" + std::to_string(kExpectedDefault));
  // The fallback of the default drive; its own ShortCuts keys win.
  Line(s, "OpenShortCut=49371");
  Line(s, "CloseShortCut=49373");
  // Hexadecimal, as a hand-edited file may have it.
  Line(s, "WaitFor=$1E");
  Line(s, "");
  Line(s, "[ShortCuts]");
  for (int n = 1; n <= drives; ++n) {
    Line(s, "OpenShortCut" + std::to_string(n) + "=" + std::to_string(ExpectedOpenShortCut(n)));
    Line(s, "CloseShortCut" + std::to_string(n) + "=" + std::to_string(ExpectedCloseShortCut(n)));
  }
  Line(s, "");
  Line(s, "[Track]");
  for (int n = 1; n <= drives; ++n)
    Line(s, "DoTrack" + std::to_string(n) + "=" + (ExpectedDoTrack(n) ? "1" : "0"));
  return s;
}

// Unrelated text of exactly `size` bytes: sections of other programs with
// keys of their own, some of them named like the program's keys (a reader
// must not take a key from the wrong section), comments and blank lines.
std::string Unrelated(std::size_t size) {
  std::string out;
  if (size == 0) return out;
  std::uint32_t state = 0x2545F491u;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  static constexpr std::string_view kStems[] = {"Path", "Window", "Recent", "Color", "Font",
                                                "OpenShortCut", "DoTrack", "Default", "Size"};
  for (int section = 1; out.size() + 64 < size; ++section) {
    Line(out, "[Plugin" + std::to_string(section) + "]");
    if (section % 7 == 0) Line(out, "; settings of plug-in " + std::to_string(section));
    const int keys = 8 + static_cast<int>(next() % 24);
    for (int k = 1; k <= keys && out.size() + 64 < size; ++k) {
      std::string line(kStems[next() % (sizeof kStems / sizeof kStems[0])]);
      line += std::to_string(k);
      line += '=';
      const int chars = 4 + static_cast<int>(next() % 40);
      for (int c = 0; c < chars; ++c) line += static_cast<char>('a' + next() % 26);
      Line(out, line);
    }
    Line(out, "");
  }
  // A comment line that brings the block to exactly the size asked for
  // (what is left is 1..64 bytes: the loops above stop 64 bytes short).
  const std::size_t left = size - out.size();
  if (left >= 4) {
    Line(out, "; " + std::string(left - 4, '-'));
  } else {
    out.append(left, '\n');
  }
  return out;
}

}  // namespace

std::uint16_t ExpectedOpenShortCut(int n) {
  return static_cast<std::uint16_t>(0xC000 | KeyFor(n));  // Ctrl+Alt+key
}

std::uint16_t ExpectedCloseShortCut(int n) {
  return static_cast<std::uint16_t>(0x6000 | KeyFor(n + 7));  // Ctrl+Shift+key
}

bool ExpectedDoTrack(int n) { return n % 3 != 0; }

std::string SettingsText(std::size_t size, int drives) {
  const std::string settings = Settings(drives);
  if (settings.size() >= size) return settings;
  return Unrelated(size - settings.size()) + settings;
}

}  // namespace bvx::bench
