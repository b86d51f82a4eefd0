// Helpers of the morva-convert tests: running the program, and whole
// folders read as one comparable value.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/tempdir.h"

extern char** environ;

namespace batch_test {

inline std::string program() { return std::string(MORVA_BINARY_DIR) + "/tools/morva-convert/morva-convert"; }

struct Outcome {
  int status = -1;  // exit status; 128 + n for a signal
  std::string out, err;
};

// A morva-convert started by start() and not waited for yet.
struct Started {
  pid_t pid = 0;
  std::unique_ptr<TempDir> capture;
};

// Starts morva-convert (or `binary`) with `args`, HOME pointed at `home`,
// standard input from /dev/null, standard output and error captured, and no
// display; in `cwd` when it is not empty.
inline Started start(const std::vector<std::string>& args, const std::string& home,
                     const std::string& cwd = "", const std::string& binary = program()) {
  Started p;
  p.capture = std::make_unique<TempDir>("mcv-out");
  const std::string out_path = p.capture->file("out"), err_path = p.capture->file("err");
  std::vector<std::string> argv_s = {binary};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("HOME=", 0) != 0 && std::string(*e).rfind("DISPLAY=", 0) != 0)
      env_s.push_back(*e);
  env_s.push_back("HOME=" + home);
  std::vector<char*> env;
  for (std::string& e : env_s) env.push_back(e.data());
  env.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  if (posix_spawn(&p.pid, argv[0], &fa, nullptr, argv.data(), env.data()) != 0) p.pid = 0;
  posix_spawn_file_actions_destroy(&fa);
  return p;
}

// Waits for a started run: its status and what it printed.
inline Outcome finish(Started& p) {
  Outcome o;
  if (p.pid > 0) {
    int st = 0;
    while (waitpid(p.pid, &st, 0) < 0) {
    }
    o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  o.out = read_text(p.capture->file("out"));
  o.err = read_text(p.capture->file("err"));
  return o;
}

// finish(), but a run still going after `ms` is killed (status 128 + 9):
// a run that blocks fails its test instead of hanging it.
inline Outcome finish_within(Started& p, int ms) {
  for (int waited = 0; p.pid > 0 && waited < ms; waited += 10) {
    int st = 0;
    if (waitpid(p.pid, &st, WNOHANG) == p.pid) {
      Outcome o;
      o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      o.out = read_text(p.capture->file("out"));
      o.err = read_text(p.capture->file("err"));
      p.pid = 0;
      return o;
    }
    usleep(10000);
  }
  if (p.pid > 0) kill(p.pid, SIGKILL);
  return finish(p);
}

// Waits (up to `ms`) until a started run has written `text` to its
// standard error; false when it did not.
inline bool err_shows(const Started& p, const std::string& text, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (read_text(p.capture->file("err")).find(text) != std::string::npos) return true;
    usleep(10000);
  }
  return false;
}

// start() and finish() in one.
inline Outcome run(const std::vector<std::string>& args, const std::string& home,
                   const std::string& cwd = "") {
  Started p = start(args, home, cwd);
  return finish(p);
}

// Every file below `dir` by its relative path, with its bytes; folders
// appear with a trailing '/' and no bytes.
inline void collect(const std::string& dir, const std::string& rel, std::map<std::string, Bytes>& out) {
  for (const std::string& name : list_dir(dir)) {
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      out[rel + name + "/"] = {};
      collect(path, rel + name + "/", out);
    } else {
      out[rel + name] = read_file(path);
    }
  }
}
inline std::map<std::string, Bytes> tree(const std::string& dir) {
  std::map<std::string, Bytes> out;
  collect(dir, "", out);
  return out;
}

// The names of a tree, for messages.
inline std::string names(const std::map<std::string, Bytes>& t) {
  std::string s;
  for (const auto& [k, v] : t) s += k + "(" + std::to_string(v.size()) + ") ";
  return s;
}

}  // namespace batch_test
