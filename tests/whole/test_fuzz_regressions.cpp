// Every input the fuzz targets were seeded with or ever failed on, replayed
// through the same target bodies in the ordinary test build (and in the
// sanitizer build).  A target aborts when one of its promises is broken, so
// a failing input ends this program with the target's message.
//
// Inputs: tests/fuzz/corpus/<target>/ (seeds) and
// tests/fuzz/regressions/<target>/ (inputs that once failed, kept so the
// fault stays fixed).
#define MORVA_FUZZ_NO_ENTRY
#include "fuzz/fuzz_chart_bytes.cpp"
#include "fuzz/fuzz_defaults.cpp"
#include "fuzz/fuzz_fracs.cpp"
#include "fuzz/fuzz_help.cpp"
#include "fuzz/fuzz_index.cpp"
#include "fuzz/fuzz_names.cpp"
#include "fuzz/fuzz_quickquote.cpp"
#include "fuzz/fuzz_setup.cpp"
#include "fuzz/fuzz_techtools.cpp"
#include "fuzz/fuzz_text_lines.cpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tempdir.h"

namespace {

struct Target {
  const char* name;
  int (*run)(const std::uint8_t*, std::size_t);
};

const Target kTargets[] = {
    {"fuzz_chart_bytes", fuzz_chart_bytes::run}, {"fuzz_defaults", fuzz_defaults::run},
    {"fuzz_fracs", fuzz_fracs::run},             {"fuzz_help", fuzz_help::run},
    {"fuzz_index", fuzz_index::run},             {"fuzz_names", fuzz_names::run},
    {"fuzz_quickquote", fuzz_quickquote::run},   {"fuzz_setup", fuzz_setup::run},
    {"fuzz_techtools", fuzz_techtools::run},     {"fuzz_text_lines", fuzz_text_lines::run},
};

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, SeedsAndFormerFindingsKeepEveryPromise) {
  const Target& t = GetParam();
  TempDir home("mfz");
  ScopedEnv env("HOME", home.path().c_str());
  int replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const std::string dir = std::string(MORVA_SOURCE_DIR) + "/tests/fuzz/" + kind + "/" + t.name;
    for (const std::string& file : list_dir(dir)) {
      // A broken promise aborts: name the input first.
      std::fprintf(stderr, "replaying %s/%s/%s\n", kind, t.name, file.c_str());
      const Bytes input = read_file(dir + "/" + file);
      EXPECT_EQ(t.run(input.data(), input.size()), 0);
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0) << "no seeds for " << t.name;
  // The empty input and a single byte are inputs too.
  const std::uint8_t one = 0xFF;
  EXPECT_EQ(t.run(&one, 0), 0);
  EXPECT_EQ(t.run(&one, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return std::string(info.param.name).substr(5);
                         });

}  // namespace
