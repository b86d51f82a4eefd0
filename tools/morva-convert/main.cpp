// morva-convert: the conversions of the MORVA File Converter without its
// window, for scripts and cron jobs.  Each subcommand runs the same command
// core as the window's menu line, so the files it writes are byte for byte
// the window's.  The picture program morva-plot is built from this file
// too, with `plot` as its one subcommand.
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>

#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "cli.h"

namespace {

void report_disk_full(const char* name) {
  mc::complain(std::string("cannot create ") + (name ? name : "a file") +
               " (disk full, no permission, or a bad name?)");
}

// A chart another program is writing: the wait shown every five seconds on
// standard error (a cron log keeps it short), and the chart named when the
// wait runs out.
void report_lock_waiting(const char* name, int seconds) {
  if (seconds % 5 == 0 || seconds == 1)
    std::cerr << "morva-convert: waiting for " << name << ", which another program is writing ("
              << seconds << " s of " << g_lock_wait_ms / 1000 << ")\n";
}

void report_lock_failed(const char* name, bool busy) {
  mc::complain(busy ? std::string(name) + " is busy: another program kept writing it for " +
                          std::to_string(g_lock_wait_ms / 1000) + " s; nothing was written to it"
                    : std::string("cannot lock ") + name + " (its folder cannot be opened); nothing was written to it");
}

void report_refused(const char* name, const char* why) {
  mc::complain(std::string(name) + " was not replaced: " + why + "; nothing was written to it");
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit makes a write fail (EFBIG), which is rolled back and
  // reported, instead of killing the run part-way without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app{
      "Converts and maintains MORVA chart files without a window: the conversions of "
      "the MORVA File Converter V5.37 for scripts and cron jobs."};
  app.name("morva-convert");
  app.require_subcommand(1, 1);
  app.set_version_flag("--version", "morva-convert (MORVA File Converter V5.37)");
  app.footer(
      "Exit status: 0 success, 1 done but lines, records or files were skipped, "
      "2 usage error, 3 a file could not be read or written.\nSee morva-convert(1).");

  mc::CommonOptions common;
  // Where the files are may also be said before the subcommand.
  mc::add_location_options(&app, common);
  std::vector<std::unique_ptr<mc::Command>> commands;
  mc::add_commands(app, common, commands, std::vector<std::string>(argv + 1, argv + argc));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    // A refused call leaves no old log of skipped lines behind.
    if (!common.errors.empty()) std::ofstream(common.errors, std::ios::out | std::ios::trunc);
    if (app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-') {
      mc::complain(std::string("'") + argv[1] +
                   "' is not a subcommand; see morva-convert --help for the list");
      return mc::kUsage;
    }
    mc::complain(e.what());
    return mc::kUsage;
  }

  diskfull_reporter = report_disk_full;
  mc::catch_signals();
  lock_reporter = {report_lock_waiting, report_lock_failed, report_refused};
  for (auto& cmd : commands) {
    if (!cmd->app->parsed()) continue;
    try {
      // The charts of the whole run reach the disk together: one flush of
      // the data, the renames, one flush of the directories.  Success is
      // told only after that.
      DurableBatch durable;
      // What a command says on standard output (its summary of charts
      // stored) is held back until the charts are on the disk; `show`
      // and `check` write nothing and may print much.
      std::ostringstream held;
      const bool reads_only = cmd->app->get_name() == "show" || cmd->app->get_name() == "check";
      std::streambuf* out = reads_only ? nullptr : std::cout.rdbuf(held.rdbuf());
      int status;
      try {
        status = cmd->run();
      } catch (...) {
        if (out != nullptr) std::cout.rdbuf(out);
        std::cout << held.str() << std::flush;
        throw;
      }
      const int unflushed = durable.publish();
      if (out != nullptr) std::cout.rdbuf(out);
      if (unflushed != 0) {
        mc::complain("not every chart reached the disk; those named above are as they were");
        status = mc::kFileFailure;
      } else {
        std::cout << held.str() << std::flush;
      }
      if (mc::interrupted()) {
        mc::complain(
            "stopped by a signal: the files written so far are complete; the rest was not converted");
        return mc::kFileFailure;
      }
      return status;
    } catch (const mc::UsageError& e) {
      mc::complain(e.message);
      return mc::kUsage;
    } catch (const mc::FileProblem& e) {
      mc::complain(e.message);
      return mc::kFileFailure;
    } catch (const std::exception& e) {
      mc::complain(e.what());
      return mc::kFileFailure;
    }
  }
  return mc::kUsage;
}
