// Test helpers: a temporary folder removed with everything in it, a scoped
// change of directory, a scoped environment variable, and whole-file byte
// reads and writes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A fresh folder under /tmp (mkdtemp), removed recursively on destruction.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "morva-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(std::string_view name) const;
  // Creates path()/name and any missing parents; returns the full path.
  std::string mkdirs(std::string_view name) const;

 private:
  std::string path_;
};

// Changes into `dir` for the lifetime of the object, then back.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  std::string old_;
};

// Sets (or, with value nullptr, unsets) an environment variable for the
// lifetime of the object, then restores it.  Use it to point HOME at a
// TempDir.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// Whole file as bytes; empty when the file cannot be read (check
// file_exists when that matters).
Bytes read_file(const std::string& path);
std::string read_text(const std::string& path);
// Writes (creates or truncates) the file; true on success.
bool write_file(const std::string& path, std::span<const unsigned char> bytes);
bool write_text(const std::string& path, std::string_view text);
bool file_exists(const std::string& path);
// Removes a file or a folder with everything below it (symbolic links are
// removed, never followed).
void remove_tree(const std::string& path);
// Names in a folder (without "." and ".."), sorted.
// The charts' lock file ".morva.lock" (which stays in every folder a chart
// was written to) is left out unless asked for.
std::vector<std::string> list_dir(const std::string& dir, bool with_lock_file = false);

// Runs a program (looked up on PATH) with an argument vector, no shell, its
// standard output to /dev/null; its exit status, or -1 when it could not
// start or did not exit.
int run_program(std::vector<std::string> args);
