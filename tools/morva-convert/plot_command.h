// `plot`, which draws charts as pictures.  Cairo, and the X11 libraries it
// brings, live only in the picture program morva-plot: morva-convert
// declares the same subcommand with the same options and, once a call
// parses, hands it whole to morva-plot (found beside its own executable),
// which parses it again and draws.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace mc {

inline constexpr const char* kPlotProgram = "morva-plot";

struct PlotOptions {
  std::vector<std::string> charts;
  std::string output, format, from, to, until, size;
  bool log = false;
};

// Adds the subcommand "plot" and its options to `parent`.
CLI::App* add_plot_options(CLI::App& parent, CommonOptions& common, PlotOptions& options);

// morva-convert's `plot`: runs morva-plot with `args` (the words that
// followed the program's name), which takes over the process, its output
// and its exit status.
std::unique_ptr<Command> add_plot_handoff(CLI::App& app, CommonOptions& common,
                                          std::vector<std::string> args);

}  // namespace mc
