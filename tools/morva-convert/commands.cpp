#include "cli.h"
#include "tools/morva-convert/plot_command.h"

namespace mc {

void add_commands(CLI::App& app, CommonOptions& common, std::vector<std::unique_ptr<Command>>& commands,
                  const std::vector<std::string>& args) {
  commands.push_back(add_text_to_chart(app, common));
  commands.push_back(add_chart_to_text(app, common));
  commands.push_back(add_weekly(app, common, false));
  commands.push_back(add_weekly(app, common, true));
  commands.push_back(add_compress(app, common));
  commands.push_back(add_adjust(app, common));
  commands.push_back(add_techtools(app, common));
  commands.push_back(add_quickquote(app, common));
  commands.push_back(add_investorlink(app, common));
  commands.push_back(add_show(app, common));
  commands.push_back(add_plot_handoff(app, common, args));
  commands.push_back(add_detect(app, common));
  commands.push_back(add_check(app, common));
  commands.push_back(add_repair(app, common));
}

}  // namespace mc
