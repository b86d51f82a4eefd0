// The InvestorLink import (main menu line I): an e-mailed ZIP archive of
// comma-separated .STK / .CSF members, one line per symbol, the date in the
// file name.  The members are unpacked into one private temporary file,
// which is converted by the text-to-chart conversion with InvestorLink's
// layout and removed afterwards.
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

// A private temporary file in /tmp (mode 0600, made with mkstemp) whose
// name starts with `stem`; removed when the object goes, whatever happened.
class PrivateTemp {
 public:
  explicit PrivateTemp(const std::string& stem);
  ~PrivateTemp();
  PrivateTemp(const PrivateTemp&) = delete;
  PrivateTemp& operator=(const PrivateTemp&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Hands the descriptor over to the caller (who closes it); the file is
  // still removed by the destructor.
  int release();
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Runs `unzip -p ARCHIVE "*.[SC][TS][KF]"` without a shell, its standard
// output into out_fd and its standard input from /dev/null.  The archive
// name is one argument whatever it holds (a name starting with '-' is
// passed as "./name").  Returns unzip's exit status, or -1 when it could
// not be started.
int unzip_members(const std::string& archive, int out_fd);

// Unpacks the .STK/.CSF members of `archive` into `text` and puts its
// reading position back at its start.  kDone when there is text to
// convert (unzip's warnings, status 1, included); kNothing when the archive
// holds no such member; kFailed when unzip could not be run or could not
// unpack the archive.  The message says what to show for the last two.
Result unpack_investorlink(const std::string& archive, PrivateTemp& text);

// The bars the text in fd (from its current position; put back there)
// gives under InvestorLink's layout, checked by the bar rules before they
// are stored: bar_check holds the count and the first few (chart, date,
// line).  kDone, or kRefused (" Not an InvestorLink file: ...", nothing to
// store) when more than half of its bars break the rules.
Result check_investorlink(int fd, const std::string& textname);
