// Checked file operations and the fault-injection seam behind them.
//
// Every write of the chart store, of SafeReplace and of write_bar goes
// through checked_write / checked_write_fd, every temporary file is created
// through checked_create, every replacing rename goes through
// checked_rename, every flush to the disk through checked_sync and every
// chart lock through checked_lock.  Tests set g_faults to make the N-th such call fail (as a
// full disk or a failed rename would) and then check that nothing was lost.
// By default no fault is injected.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

struct FaultPlan {
  // 1-based number of the call that fails; 0 = never.  Only that one call
  // fails; later calls succeed again.
  int fail_write = 0;
  int fail_create = 0;
  int fail_rename = 0;
  int fail_flush = 0;
  int fail_lock = 0;
  // Calls counted since the last faults_reset().
  int writes = 0;
  int creates = 0;
  int renames = 0;
  int flushes = 0;
  int locks = 0;
};
extern FaultPlan g_faults;

// Clears the plan and the counters.
void faults_reset();

// Writes all n bytes to the stream; 1 when every byte was accepted and the
// stream shows no error, else 0 (errno set; ENOSPC for an injected fault).
int checked_write(std::FILE* f, const void* p, std::size_t n);
// Same on a descriptor; loops over short writes and EINTR.
int checked_write_fd(int fd, const void* p, std::size_t n);
// open(path, flags, mode) counted as a temporary-file creation; the
// descriptor or -1 (errno set; EIO for an injected fault).
int checked_create(const char* path, int flags, mode_t mode);
// rename(from, to); 1 on success, else 0 (errno set).
int checked_rename(const char* from, const char* to);
// linkat(from -> to, following a link in `from`), counted as a rename: it
// is the step that puts a finished file in place.  1 on success, else 0.
int checked_link(const char* from, const char* to);

// False: checked_sync counts its calls (and fails where the plan says) but
// does not wait for the disk.  For in-process tests only, which store
// thousands of charts on a disk shared with other work; true by default.
extern bool g_flush_to_disk;

// What checked_sync flushes.
enum class SyncKind { kData, kFile, kFileSystem };
// fdatasync, fsync or syncfs of `fd`; 1 on success, else 0 (errno set;
// EIO for an injected fault).
int checked_sync(int fd, SyncKind kind);
// One try at the exclusive flock of `fd` (a chart folder; `at` is not
// used): it conflicts with every other open of the folder, in this
// process too.  1 when taken; 0 with errno EAGAIN when
// another holds it, any other errno for a failure (ENOLCK when injected).
int checked_lock(int fd, off_t at);
