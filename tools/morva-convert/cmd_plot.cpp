// plot: handed whole to the picture program morva-plot, which draws with
// Cairo; morva-convert itself links no drawing or X11 library.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "tools/morva-convert/plot_command.h"

namespace mc {

namespace {

// The picture program beside this program's own executable; "" when that
// executable cannot be found.
std::string plot_program_path() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<std::size_t>(n));
  path.erase(path.rfind('/') + 1);
  return path + kPlotProgram;
}

class PlotHandoff : public Command {
 public:
  PlotHandoff(CLI::App& parent, CommonOptions& common, std::vector<std::string> args)
      : args_(std::move(args)) {
    // The same options as the picture program's, so that a call that does
    // not parse is refused here, with the same words, before any hand-over.
    app = add_plot_options(parent, common, options_);
  }

  // The call parsed: morva-plot takes over this process with the same
  // words, so that its output, its exit status and the signals of a
  // Ctrl-C are the caller's own, as if nothing had been handed over.
  int run() override {
    const std::string program = plot_program_path();
    if (program.empty()) {
      complain(std::string("cannot find the picture program ") + kPlotProgram +
               ": where this program lies is unknown");
      return kFileFailure;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& a : args_) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(program.c_str(), argv.data());
    complain("cannot start the picture program " + program + ": " + std::strerror(errno));
    return kFileFailure;
  }

 private:
  std::vector<std::string> args_;
  PlotOptions options_;
};

}  // namespace

std::unique_ptr<Command> add_plot_handoff(CLI::App& app, CommonOptions& common,
                                          std::vector<std::string> args) {
  return std::make_unique<PlotHandoff>(app, common, std::move(args));
}

}  // namespace mc
