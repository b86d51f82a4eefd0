// morva-plot: the picture program behind `morva-convert plot`.  It speaks
// as morva-convert (same name, options, messages and exit statuses) so that
// a handed-over call reads as if morva-convert had drawn it.
#include "tools/morva-convert/cli.h"

namespace mc {

void add_commands(CLI::App& app, CommonOptions& common, std::vector<std::unique_ptr<Command>>& commands,
                  const std::vector<std::string>& /*args*/) {
  commands.push_back(add_plot(app, common));
}

}  // namespace mc
