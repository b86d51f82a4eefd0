#include "tools/morva-convert/plot_command.h"

namespace mc {

CLI::App* add_plot_options(CLI::App& parent, CommonOptions& common, PlotOptions& o) {
  CLI::App* app = parent.add_subcommand("plot", "Draw charts as pictures: PNG, SVG or PDF");
  app->add_option("CHART", o.charts, "The charts")->type_name("CHART")->required();
  app->add_option("--output,-o", o.output,
                  "The picture, its format by its extension (.png, .svg, .pdf); with several charts "
                  "an existing directory, each picture named after its chart")
      ->type_name("FILE");
  app->add_option("--format", o.format, "Format of pictures named after their charts: png, svg or pdf")
      ->type_name("FORMAT");
  app->add_option("--from", o.from, "First date drawn, yyyymmdd (a bar number for a numbered chart)")
      ->type_name("DATE");
  app->add_option("--until", o.until, "Last date drawn, yyyymmdd (a bar number for a numbered chart)")
      ->type_name("DATE");
  app->add_option("--to", o.to,
                  "The picture, as -o; a date here is taken as --until, as earlier versions did, with a warning")
      ->type_name("FILE");
  app->add_option("--size", o.size, "Width and height in pixels (default 1200x700)")->type_name("WxH");
  app->add_flag("--log", o.log, "Logarithmic price axis");
  app->add_flag("--quiet,-q", common.quiet, "No line for each picture written");
  add_location_options(app, common);
  return app;
}

}  // namespace mc
