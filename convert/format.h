// The format settings of a text: how its lines are laid out; and the files
// of the start directory that the window and the batch tool both read.
#pragma once

#include <cstddef>
#include <span>

// The 25-byte format settings, kept in this exact layout in "morvautl.dat".
struct FormatSettings {
  char datecode;      // 0 yyyymmdd, 1 31dec92, 2 12/31/92 or hh:mm:ss, 3 yymmdd
  char order[12];     // field letters S D O H L C V I M, blank padded
  char nul1;          // ends the order string
  char sep;           // separator between fields
  char startdate[8];  // first date to convert, ASCII yyyymmdd
  char nul2;
  char direction;     // 0 text to chart, 1 chart to text
};
static_assert(sizeof(FormatSettings) == 25, "format settings are a 25-byte record");

// Built-in format settings: code 0, "DOHLCVI", ',', "19600101", text to chart.
FormatSettings builtin_format();

// The converter defaults file in the start directory: the 25 bytes of the
// format settings (an older 23-byte layout is read too).
inline constexpr const char* kDefaultsFileName = "morvautl.dat";
inline constexpr int kOldDefaultsSize = 23;

// Decodes the content of a defaults file over format settings: exactly 23
// bytes is the older layout (six-digit start date widened with "19");
// anything else overwrites as many of the 25 bytes as it holds.
void decode_defaults(std::span<const unsigned char> bytes, FormatSettings& out);

// The setup file shared with the charting program: its name and record size,
// and where its data-directory field lies (bytes 26-49, NUL padded).
inline constexpr const char* kSetupFileName = "setup.mrv";
inline constexpr int kSetupRecordSize = 62;
inline constexpr std::size_t kSetupDataDirOffset = 26;
inline constexpr std::size_t kSetupDataDirWidth = 24;
