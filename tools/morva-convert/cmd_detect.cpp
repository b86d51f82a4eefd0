// detect: the layout text-to-chart --auto finds, as the options that
// reproduce it, to pin them in a cron line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli.h"

namespace mc {

namespace {

class Detect : public Command {
 public:
  Detect(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand(
        "detect", "Show the layout of text price files as the options text-to-chart needs for them");
    app->add_option("FILE", sources_, "Text files")->type_name("FILE")->required();
    add_format_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(true)) return run.status();
    const std::vector<Source> sources = expand_sources(sources_, false, true);
    for (const Source& s : sources) {
      const int fd = ::open(s.where().c_str(), O_RDONLY);
      if (fd < 0) {
        run.failed("cannot read " + s.where() + ": " + std::strerror(errno));
        continue;
      }
      const TextLayout layout = detect_layout(fd, layout_hints(common_, run.format()));
      ::close(fd);
      if (!layout.ok) {
        complain(s.name + ": " + layout.problem);
        for (const std::string& e : layout.evidence) complain("  " + e);
        run.skipped();
        continue;
      }
      FormatSettings f = run.format();
      apply_layout(layout, common_, f);
      std::string order(f.order, sizeof f.order);
      order.erase(order.find_last_not_of(' ') + 1);
      if (layout.rewrite)
        // No options say this layout: only --auto reads it.
        std::cout << s.name << ": --auto";
      else
        std::cout << s.name << ": --order " << order << " --separator " << separator_option_text(f.sep)
                  << " --date-format " << date_format_option_text(f.datecode)
                  << (layout.decimal_comma || common_.decimal_comma ? " --decimal-comma" : "");
      std::cout << "   # " << layout.summary() << '\n';
      for (const std::string& e : layout.evidence) std::cout << "  " << e << '\n';
      std::cout << "  the first bars as they would be stored (" << layout.checked << " read, " << layout.broken
                << " break the bar rules):\n";
      print_bars(layout.first_bars, layout.first_bars.size());
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> sources_;
};

}  // namespace

std::unique_ptr<Command> add_detect(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Detect>(app, common);
}

}  // namespace mc
