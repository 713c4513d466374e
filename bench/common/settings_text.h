// Settings files for the load and save benchmarks, the same bytes natively
// and under Wine: the program's three sections for a number of drives, after
// a block of unrelated sections and keys that brings the text to a chosen
// size. The program's keys stand at the end, so a reader must go through
// everything before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bvx::bench {

inline constexpr int kBenchDrives = 26;
inline constexpr std::size_t kSmallFile = 2 * 1024;
inline constexpr std::size_t kLargeFile = 1024 * 1024;

// What the settings text holds for drive n (1-based), so that a benchmark
// can check that a load really read the file.
std::uint16_t ExpectedOpenShortCut(int n);
std::uint16_t ExpectedCloseShortCut(int n);
bool ExpectedDoTrack(int n);
inline constexpr int kExpectedDefault = 3;
inline constexpr int kExpectedWaitFor = 30;

// The settings of `drives` drives preceded by unrelated text: the whole is
// `size` bytes long (or the settings alone when they are longer). CRLF line
// ends, as a Windows editor leaves them.
std::string SettingsText(std::size_t size, int drives);

}  // namespace bvx::bench
