// Whole-file replacement: the new content is written to a temporary file in
// the target's own directory and renamed over the target only when it is
// complete, so the target is either untouched or entirely new.
//
//   SafeReplace out(path);
//   if (!out.ok() || !out.write(data, n) || !out.commit()) -> failed, `path`
//   is byte for byte as it was and no temporary file is left behind.
//
// The temporary file is created exclusively (never through an existing
// symbolic link).  For a target that does not exist yet it has no name at
// all (O_TMPFILE where the file system offers it) and is linked under the
// target's name at commit: nothing else is created or renamed, and nothing
// is left behind when the program stops half-way.  A target that is a symbolic link keeps the link: the
// file it names is replaced.  An existing target's permission bits are
// carried over to the new file; a new file gets 0666 less the umask.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

class SafeReplace {
 public:
  explicit SafeReplace(std::string target);
  ~SafeReplace();  // removes the temporary file unless committed
  SafeReplace(const SafeReplace&) = delete;
  SafeReplace& operator=(const SafeReplace&) = delete;

  // The temporary file is open and no write has failed.
  bool ok() const;
  // The stream of the temporary file (nullptr when it could not be made).
  // Direct writes are allowed; commit() still catches a stream error.
  std::FILE* stream();
  // Checked write; 1 when all n bytes were written.  A failed write makes
  // ok() false and commit() refuse.
  int write(const void* p, std::size_t n);
  // Flushes and closes the temporary file and renames it over the target.
  // 1 on success; 0 otherwise (target unchanged, temporary removed).
  int commit();
  // Abandons the new content now (the destructor does the same).
  void discard();

  const std::string& target() const { return target_; }
  // Name of the temporary file; "" while it has none (a new file).
  const std::string& temp_path() const { return temp_; }

 private:
  std::string target_;   // name as given
  std::string real_;     // file actually replaced (link resolved)
  std::string temp_;
  std::unique_ptr<char[]> buf_;  // the stream's buffer: large writes, few calls
  std::FILE* f_ = nullptr;
  bool failed_ = false;
  bool done_ = false;
  bool unnamed_ = false;  // O_TMPFILE: linked under the target's name at commit
};

// Replaces `path` by `bytes` through SafeReplace; 1 on success.
int replace_file(const std::string& path, std::span<const unsigned char> bytes);

// Temporary-file helpers shared with the store splice.
// Directory part of `path` ("." when none), without a trailing slash
// (except for "/").
std::string dir_of(const std::string& path);
// The file a path finally names: `path` itself unless it is a symbolic
// link that resolves.
std::string resolve_target(const std::string& path);
// Gives the descriptor's file the permission bits of `like` when that file
// exists, else 0666 less the umask.
void copy_mode(int fd, const std::string& like);
