// Copies of the files a batch run replaces, kept beside them as NAME.bak.
//
//   BatchBackups keep;
//   keep.prepare("csv_i/ibm");         // before the chart may be replaced
//   ... store ...
//   keep.settle("csv_i/ibm", stored);  // the copy becomes csv_i/ibm.bak,
//                                      // or is dropped when nothing changed
//
// The copy is made under the file's lock, held until settle(), before the
// file can change, into a temporary file of
// the one write path (".morva-XXXXXXXX.tmp") in the same directory, and takes the name NAME.bak only once the
// file has really been replaced; an earlier NAME.bak stays until then.
// Copies still pending when the object goes are removed.
#pragma once

#include <map>
#include <string>

#include "chartdata/safe_replace.h"

class BatchBackups {
 public:
  BatchBackups() = default;
  ~BatchBackups();
  BatchBackups(const BatchBackups&) = delete;
  BatchBackups& operator=(const BatchBackups&) = delete;

  // Copies the current content of `path` aside.  1 when a copy is pending
  // (or was already made for this path in this run), 2 when there is no
  // regular file to copy (nothing to keep), 0 when the copy failed.
  int prepare(const std::string& path);
  // The file at `path` was replaced (`replaced` true): its pending copy
  // becomes path + ".bak".  Otherwise the copy is dropped.  Returns 0 only
  // when a pending copy could not be given its name.
  int settle(const std::string& path, bool replaced);
  // Names of the backups made so far.
  int made() const { return made_; }

 private:
  std::map<std::string, std::string> pending_;  // path -> temporary copy
  std::map<std::string, bool> seen_;            // paths handled in this run
  std::map<std::string, ChartLock> locks_;      // held from the copy to its naming
  int made_ = 0;
};

// The backup name of a file.
inline std::string backup_name(const std::string& path) { return path + ".bak"; }
