// The settings file on arbitrary text: the load over 0 to 26 drives, the
// program's own start-up over 26 drives on the recording fake, a save on
// top of the file, the load of what was saved, and a save that fails at
// one of its keys.
//
// The load must give exactly what the plain model of the read order gives
// and must never address an entry outside 1..26 (the drive table's index
// check raises on that) nor store a negative wait. Each key of a save must
// change the file exactly as the model of one write says, the saved values
// must load back, and a save that stops at any key must leave the complete
// file of the keys before it.
//
// The input is the file's bytes: UTF-16 with a byte-order mark counts
// through its text (the model decodes it) and every replace must keep its
// encoding; UTF-16 that cannot be decoded loads as no file, and a save on it
// must stop before its first key with the report, the file untouched.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "app/bvx_main.h"
#include "common/check.h"
#include "common/ini_model.h"
#include "fake/fake_system.h"
#include "hotkeys/hotkeys.h"
#include "settings/settings.h"

namespace bvx::fuzz {
namespace {

const std::string kIni = "C:\\Program Files\\Brimvex\\BVX.ini";

std::optional<std::int64_t> ModelNumber(const ModelValues& values, std::string_view section,
                                        const std::string& key) {
  const auto it = values.find({Folded(section), Folded(key)});
  if (it == values.end()) return std::nullopt;
  return ModelInteger(it->second);
}

std::int32_t ModelInt32(const ModelValues& values, std::string_view section, const std::string& key,
                        std::int32_t def) {
  const auto v = ModelNumber(values, section, key);
  if (!v || *v < std::numeric_limits<std::int32_t>::min() || *v > std::numeric_limits<std::int32_t>::max())
    return def;
  return static_cast<std::int32_t>(*v);
}

std::uint16_t ModelShortCut(const ModelValues& values, std::string_view section, const std::string& key,
                            std::uint16_t def) {
  const auto v = ModelNumber(values, section, key);
  if (!v || *v < 0 || *v > 0xFFFF) return def;
  return static_cast<std::uint16_t>(*v);
}

// A table as discovery leaves it.
Drives Discovered(int count, std::uint8_t default_drive) {
  Drives d;
  d.DriveCount = static_cast<std::uint8_t>(count);
  d.DefaultDrive = default_drive;
  for (int k = 1; k <= kMaxDrives; ++k) d.DriveTable[k].WaitFor = 15;
  return d;
}

// The load as the read order gives it, on top of the table d.
Drives ModelLoad(std::string_view text, Drives d) {
  const ModelValues values = ModelRead(text);
  const int count = d.DriveCount;
  const std::int32_t position = ModelInt32(values, "BVX", "Default", d.DefaultDrive);
  d.DefaultDrive = position >= 1 && position <= count ? static_cast<std::uint8_t>(position) : 1;
  TCDROM& first = d.DriveTable[d.DefaultDrive];
  first.OpenShortCut = ModelShortCut(values, "BVX", "OpenShortCut", kDefaultOpenShortCut);
  first.CloseShortCut = ModelShortCut(values, "BVX", "CloseShortCut", kDefaultCloseShortCut);
  for (int n = 1; n <= count; ++n) {
    TCDROM& e = d.DriveTable[n];
    const std::string num = std::to_string(n);
    e.OpenShortCut = ModelShortCut(values, "ShortCuts", "OpenShortCut" + num, e.OpenShortCut);
    e.CloseShortCut = ModelShortCut(values, "ShortCuts", "CloseShortCut" + num, e.CloseShortCut);
    const std::int32_t wait = ModelInt32(values, "BVX", "WaitFor", 10);
    e.WaitFor = wait < 0 ? 0u : static_cast<std::uint32_t>(wait);
    e.DoTrack = ModelInt32(values, "Track", "DoTrack" + num, 1) != 0;
  }
  return d;
}

void CheckSameSettings(const Drives& got, const Drives& want, std::string_view where) {
  const std::string w(where);
  FUZZ_CHECK(got.DefaultDrive == want.DefaultDrive, w + ": default drive " +
                                                        std::to_string(got.DefaultDrive) + ", the model " +
                                                        std::to_string(want.DefaultDrive));
  for (int k = 1; k <= kMaxDrives; ++k) {
    const TCDROM& g = got.DriveTable[k];
    const TCDROM& m = want.DriveTable[k];
    const auto at = [&] { return w + ", entry " + std::to_string(k) + ": "; };
    FUZZ_CHECK(g.OpenShortCut == m.OpenShortCut, at() + "open shortcut " + std::to_string(g.OpenShortCut) +
                                                     ", the model " + std::to_string(m.OpenShortCut));
    FUZZ_CHECK(g.CloseShortCut == m.CloseShortCut, at() + "close shortcut " +
                                                       std::to_string(g.CloseShortCut) + ", the model " +
                                                       std::to_string(m.CloseShortCut));
    FUZZ_CHECK(g.WaitFor == m.WaitFor,
               at() + "wait " + std::to_string(g.WaitFor) + ", the model " + std::to_string(m.WaitFor));
    FUZZ_CHECK(g.WaitFor <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()),
               at() + "wait above 2^31 - 1");
    FUZZ_CHECK(g.DoTrack == m.DoTrack, at() + "track flag");
  }
}

// A small deterministic generator for the values of a save.
std::uint64_t Next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

struct Write {
  std::string section, key, value;
};

// The keys a save writes, in its order.
std::vector<Write> SaveOrder(int position, int wait, const std::vector<ShortcutPair>& pairs,
                             const std::vector<std::uint8_t>& flags) {
  std::vector<Write> w;
  w.push_back({"BVX", "Default", std::to_string(position)});
  w.push_back({"BVX", "WaitFor", std::to_string(wait)});
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    w.push_back({"ShortCuts", "OpenShortCut" + n, std::to_string(pairs[i].Open)});
    w.push_back({"ShortCuts", "CloseShortCut" + n, std::to_string(pairs[i].Close)});
    if (static_cast<int>(i) + 1 == position) {
      w.push_back({"BVX", "OpenShortCut", std::to_string(pairs[i].Open)});
      w.push_back({"BVX", "CloseShortCut", std::to_string(pairs[i].Close)});
    }
    w.push_back({"Track", "DoTrack" + n, i < flags.size() && flags[i] == 0 ? "0" : "1"});
  }
  return w;
}

// The program with 26 optical drives, started on the given settings file.
struct Program {
  fake::FakeSystem sys;
  std::unique_ptr<TAboutForm> form;
  explicit Program(const std::optional<std::string>& file) {
    for (char c = 'a'; c <= 'z'; ++c) sys.os.cdroms.insert(c);
    if (file) sys.os.files[kIni] = *file;
    sys.ui.SetTitle("Brimvex");
    form = std::make_unique<TAboutForm>(sys.os, sys.ui);
  }
};

// The hotkey failure reports that 26 drives with these shortcuts give: a
// combination that an earlier drive (or item) holds fails.
std::vector<std::string> ExpectedHotKeyReports(const Drives& d) {
  std::vector<std::string> reports;
  std::vector<std::uint16_t> held;
  const auto add = [&](std::uint16_t sc, bool open, char letter) {
    if (sc == 0) return;
    for (std::uint16_t h : held) {
      if (h == sc) {
        reports.push_back(HotKeyFailureText(open, letter));
        return;
      }
    }
    held.push_back(sc);
  };
  for (int k = 1; k <= d.DriveCount; ++k) {
    add(d.DriveTable[k].OpenShortCut, true, d.DriveTable[k].Letter);
    add(d.DriveTable[k].CloseShortCut, false, d.DriveTable[k].Letter);
  }
  return reports;
}

}  // namespace
}  // namespace bvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bvx;
  using namespace bvx::fuzz;
  FuzzedDataProvider in(data, size);
  const int count = in.ConsumeIntegralInRange(0, kMaxDrives);
  const auto start_default = in.ConsumeIntegral<std::uint8_t>();
  const bool file_exists = in.ConsumeIntegralInRange(0, 7) != 0;
  const int position = in.ConsumeIntegralInRange(-1, kMaxDrives + 1);
  const int wait = in.ConsumeIntegral<std::int32_t>();
  const int pair_count = in.ConsumeIntegralInRange(0, kMaxDrives);
  const int flag_count = in.ConsumeIntegralInRange(0, kMaxDrives);
  std::uint64_t state = in.ConsumeIntegral<std::uint64_t>();
  const unsigned keep_share = in.ConsumeIntegralInRange(0u, 4u);  // of 4: values kept as loaded
  const std::size_t fail_pick = in.ConsumeIntegral<std::uint16_t>();
  // Its top bit makes the file one of two names (a hard link): every write
  // then goes into the file itself instead of replacing it.
  const bool linked = (fail_pick & 0x8000) != 0;
  const fake::Op write_op = linked ? fake::Op::RewriteFile : fake::Op::ReplaceFile;
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::optional<std::string> file = file_exists ? std::optional<std::string>(text) : std::nullopt;
  // The text the model reads; no file for UTF-16 that cannot be decoded.
  bool utf16 = false;
  const std::optional<std::string> model_text = ModelFileText(file.value_or(std::string()), &utf16);
  const std::string readable = model_text.value_or(std::string());

  // --- the load alone, over the given drive count ---------------------------------
  {
    Drives d = Discovered(count, start_default);
    ReadSettings(file.value_or(std::string()), d);
    CheckSameSettings(d, ModelLoad(readable, Discovered(count, start_default)), "load");
  }

  // --- the program's start-up over 26 drives ---------------------------------------
  Program p(file);
  Drives& drives = p.form->drives;
  CheckSameSettings(drives, ModelLoad(readable, Discovered(kMaxDrives, 1)), "start-up");
  {
    const std::vector<std::string> reports = ExpectedHotKeyReports(drives);
    FUZZ_CHECK(p.sys.ui.boxes.size() == reports.size(),
               "start-up showed " + std::to_string(p.sys.ui.boxes.size()) + " boxes, the hotkey model " +
                   std::to_string(reports.size()));
    for (std::size_t i = 0; i < reports.size(); ++i)
      FUZZ_CHECK(p.sys.ui.boxes[i].text == reports[i] && p.sys.ui.boxes[i].caption == "BVX",
                 "start-up box " + std::to_string(i));
    for (int k = 1; k <= kMaxDrives; ++k) {
      FUZZ_CHECK(drives.DriveItems[k].OpenItem->ShortCut == drives.DriveTable[k].OpenShortCut,
                 "open item shortcut");
      FUZZ_CHECK(drives.DriveItems[k].CloseItem->ShortCut == drives.DriveTable[k].CloseShortCut,
                 "close item shortcut");
    }
  }

  // --- a save on top of the file ------------------------------------------------------
  std::vector<ShortcutPair> pairs;
  std::vector<std::uint8_t> flags;
  for (int i = 1; i <= pair_count; ++i) {
    const TCDROM& e = drives.DriveTable[i];
    const std::uint64_t r = Next(state);
    const bool keep = (r & 3) < keep_share;
    pairs.push_back(
        keep ? ShortcutPair{e.OpenShortCut, e.CloseShortCut}
             : ShortcutPair{static_cast<std::uint16_t>(r >> 8), static_cast<std::uint16_t>(r >> 24)});
  }
  for (int i = 1; i <= flag_count; ++i) flags.push_back(static_cast<std::uint8_t>(Next(state) & 1));
  const std::vector<Write> order = SaveOrder(position, wait, pairs, flags);

  p.sys.ui.boxes.clear();
  if (linked) p.sys.os.links[kIni] = {2, NameKind::Plain};
  if (!model_text) {
    const std::size_t replaces = p.sys.log.Count(fake::OpName(write_op));
    FUZZ_CHECK(!SaveSettings(p.sys.os, p.sys.ui, kIni, position, wait, pairs, flags),
               "a save on UTF-16 that cannot be decoded reported success");
    FUZZ_CHECK(p.sys.log.Count(fake::OpName(write_op)) == replaces && p.sys.os.files.at(kIni) == *file,
               "a save wrote over UTF-16 that cannot be decoded");
    FUZZ_CHECK(p.sys.ui.boxes.size() == 1 && p.sys.ui.boxes[0].text == "Unable to write to " + kIni + ".",
               "the refused save's report");
    return 0;
  }
  std::vector<std::optional<std::string>> states;  // the file before each replace
  p.sys.os.FailWhen(write_op, [&](int) {
    const auto it = p.sys.os.files.find(kIni);
    states.push_back(it == p.sys.os.files.end() ? std::nullopt : std::optional<std::string>(it->second));
    return false;
  });
  FUZZ_CHECK(SaveSettings(p.sys.os, p.sys.ui, kIni, position, wait, pairs, flags), "the save failed");
  FUZZ_CHECK(p.sys.ui.boxes.empty(), "the save showed a box");
  FUZZ_CHECK(states.size() == order.size(), "the save replaced the file " + std::to_string(states.size()) +
                                                " times for " + std::to_string(order.size()) + " keys");
  states.push_back(p.sys.os.files.at(kIni));
  FUZZ_CHECK(states.front() == file, "the file changed before the save's first replace");
  // Each replace as text, in the file's own encoding.
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < states.size(); ++i) {
    bool state_utf16 = false;
    const std::optional<std::string> t = ModelFileText(states[i].value_or(std::string()), &state_utf16);
    FUZZ_CHECK(t.has_value() && state_utf16 == utf16 &&
                   (!utf16 || states[i]->starts_with(file->substr(0, 2))),
               "replace " + std::to_string(i) + " changed the file's encoding");
    texts.push_back(*t);
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Write& w = order[i];
    const auto what = [&] {
      return "save key " + std::to_string(i + 1) + " [" + w.section + "] " + w.key + "=" + w.value;
    };
    FUZZ_CHECK(texts[i + 1] == ModelWrite(texts[i], w.section, w.key, w.value), what() + ": not the model's text");
  }
  // Every key the save did not write reads as before.
  {
    const ModelValues old_values = ModelRead(readable);
    const ModelValues new_values = ModelRead(texts.back());
    for (const auto& [names, value] : old_values) {
      bool written = false;
      for (const Write& w : order)
        written = written || names == std::make_pair(Folded(w.section), Folded(w.key));
      if (written) continue;
      const auto it = new_values.find(names);
      FUZZ_CHECK(it != new_values.end() && it->second == value,
                 "the save changed [" + names.first + "] " + Quoted(names.second));
    }
  }

  // --- what was saved loads back ------------------------------------------------------
  const Drives before_reload = drives;
  p.form->LoadSettings();
  CheckSameSettings(drives, ModelLoad(texts.back(), before_reload), "load after the save");
  FUZZ_CHECK(drives.DefaultDrive == (position >= 1 && position <= kMaxDrives ? position : 1),
             "saved default drive");
  for (int i = 1; i <= pair_count; ++i) {
    const TCDROM& e = drives.DriveTable[i];
    const ShortcutPair& sp = pairs[static_cast<std::size_t>(i - 1)];
    FUZZ_CHECK(e.OpenShortCut == sp.Open && e.CloseShortCut == sp.Close,
               "saved shortcuts of drive " + std::to_string(i));
    FUZZ_CHECK(e.DoTrack == (i > flag_count || flags[static_cast<std::size_t>(i - 1)] != 0),
               "saved track flag");
    FUZZ_CHECK(e.WaitFor == (wait < 0 ? 0u : static_cast<std::uint32_t>(wait)), "saved wait");
  }

  // --- a save that fails at one of its keys leaves the file of the keys before -----------
  if (!order.empty()) {
    const std::size_t fail_at = 1 + fail_pick % order.size();
    if (file) {
      p.sys.os.files[kIni] = *file;
    } else {
      p.sys.os.files.erase(kIni);
    }
    p.sys.ui.boxes.clear();
    std::size_t replaces = 0;
    p.sys.os.FailWhen(write_op, [&](int) { return ++replaces == fail_at; });
    FUZZ_CHECK(!SaveSettings(p.sys.os, p.sys.ui, kIni, position, wait, pairs, flags),
               "a failing save reported success");
    FUZZ_CHECK(replaces == fail_at, "the save went on after a failed key");
    FUZZ_CHECK(p.sys.ui.boxes.size() == 1 && p.sys.ui.boxes[0].text == "Unable to write to " + kIni + "." &&
                   p.sys.ui.boxes[0].caption == "Brimvex" && p.sys.ui.boxes[0].icon == ui::MessageIcon::Error,
               "the failed save's report");
    const auto it = p.sys.os.files.find(kIni);
    const std::optional<std::string> left =
        it == p.sys.os.files.end() ? std::nullopt : std::optional<std::string>(it->second);
    FUZZ_CHECK(left == states[fail_at - 1], "a save that failed at key " + std::to_string(fail_at) +
                                                " left another file than the one of the keys before");
    p.sys.os.FailNever(write_op);
  }
  FUZZ_CHECK(p.sys.os.links.count(kIni) == (linked ? 1u : 0u), "the save broke the file's other name");
  return 0;
}
