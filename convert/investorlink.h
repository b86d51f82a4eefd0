// The InvestorLink import (main menu line I): an e-mailed ZIP archive of
// comma-separated .STK / .CSF members, one line per symbol, the date in the
// file name.  The members are unpacked (libzip, in this process) into one
// private text in memory, which is converted by the text-to-chart
// conversion with InvestorLink's layout.
#pragma once

#include <string>

#include "convert/format.h"
#include "convert/result.h"

// InvestorLink's layout: text to chart, yymmdd, ',', "SOHLCVI", 19600101.
FormatSettings investorlink_format();

// The text name of an archive name: "991231S.ZIP" gives "991231.STK",
// "991231F.ZIP" gives "991231.CSF", any other "X.ZIP" loses ".ZIP".  Only
// ".ZIP" in capitals at the last '.' counts; other names come back as
// they are.
std::string investor_text_name(const std::string& archive);
// 1 when the name's last '.' starts exactly ".ZIP".
int is_zip_name(const char* name);

// The unpacked text: an anonymous file in memory (memfd), named after
// `stem` for the process's own listing only; it has no name in any folder
// and goes with its last descriptor, however the program ends.  path()
// reads it while the descriptor is open ("/proc/self/fd/N").
class PrivateTemp {
 public:
  explicit PrivateTemp(const std::string& stem);
  ~PrivateTemp();
  PrivateTemp(const PrivateTemp&) = delete;
  PrivateTemp& operator=(const PrivateTemp&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Hands the descriptor over to the caller (who closes it).
  int release();
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Unpacks the members of `archive` whose names end in .STK or .CSF (any of
// ".[SC][TS][KF]", capitals) into out_fd, one after the other in the
// archive's order, in this process.  Each member's size and check sum are
// checked against the archive, and all together may not exceed 1 GiB.
// 1 when at least one member was unpacked whole, 0 when none matched, -1
// when the archive cannot be read or any member is damaged, cut short or
// cannot be written (why says which).
int unpack_members(const std::string& archive, int out_fd, std::string* why);

// Unpacks the .STK/.CSF members of `archive` into `text` and puts its
// reading position back at its start.  kDone when there is text to
// convert; kNothing when the archive holds no such member; kFailed when
// the archive or a member could not be unpacked whole (then nothing may
// be stored from it).  The message says what to show for the last two.
Result unpack_investorlink(const std::string& archive, PrivateTemp& text);

// The bars the text in fd (from its current position; put back there)
// gives under InvestorLink's layout, checked by the bar rules before they
// are stored: bar_check holds the count and the first few (chart, date,
// line).  kDone, or kRefused (" Not an InvestorLink file: ...", nothing to
// store) when more than half of its bars break the rules.
Result check_investorlink(int fd, const std::string& textname);
