// The store splice and whole-file replacement: the merged result for each
// placement of the new bars, and an unchanged target after a failure at any
// step (faults injected into every write, creation and rename in turn).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/safe_replace.h"
#include "chartdata/splice.h"
#include "support/tempdir.h"

namespace {

// The first `n` bytes of a chart cut short inside its header.
Bytes cut_header(std::size_t n) {
  Bytes b(n, ' ');
  if (n > 0) b[0] = 0;
  return b;
}

using Dates = std::vector<std::int32_t>;

void append_le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Old bars carry close 1.0, new bars close 2.0, so the test can tell them
// apart after the merge.
void append_bar(Bytes& b, std::int32_t date, float close) {
  append_le32(b, static_cast<std::uint32_t>(date));
  for (int i = 0; i < 4; ++i) {
    std::uint32_t v;
    std::memcpy(&v, &close, 4);
    append_le32(b, v);
  }
  append_le32(b, 100);
  append_le32(b, 0);
}

Bytes header(char type, std::int32_t date) {
  Bytes h(128, ' ');
  h[0] = 0;
  h[77] = '/';
  h[109] = 0;
  h[116] = static_cast<unsigned char>(type);
  h[117] = '\n';
  for (int i = 0; i < 4; ++i) h[118 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(date) >> (8 * i));
  return h;
}

Bytes chart(const Dates& dates, char type = 'D') {
  Bytes b = header(type, dates.empty() ? 0 : dates.front());
  for (std::int32_t d : dates) append_bar(b, d, 1.0f);
  return b;
}

// "old:date" or "new:date" for each record.
std::vector<std::string> records(const Bytes& file) {
  std::vector<std::string> out;
  for (std::size_t at = 128; at + 28 <= file.size(); at += 28) {
    float close;
    std::uint32_t v = le32(file, at + 16);
    std::memcpy(&close, &v, 4);
    out.push_back((close == 2.0f ? "new:" : "old:") + std::to_string(static_cast<std::int32_t>(le32(file, at))));
  }
  return out;
}

// The range of the store under test: the fixture resets it, a step sets
// its last date.
SpliceRange range;

// The step of a conversion: writes bars dated `dates` and sets range.last.
NewBarsStep writer(const Dates& dates) {
  return [dates](std::FILE* tmp) {
    for (std::int32_t d : dates) {
      BarRecord b;
      b.date = d;
      b.open = b.high = b.low = b.close = 2.0f;
      b.volume = 100;
      if (!write_bar(tmp, b)) return 0;
      range.last = d;
    }
    return 1;
  };
}

class Splice : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_reset();
    diskfull_reporter = [](const char*) {};
    range = SpliceRange{'D', 0, 0};
  }
  void TearDown() override {
    faults_reset();
    diskfull_reporter = saved_;
  }
  TempDir dir;
  DiskFullReporter saved_ = diskfull_reporter;
};

// Day k of January 2024, so that no date looks like an old yymmdd one.
std::int32_t jan(int k) { return 20240100 + k; }
Dates jan(std::initializer_list<int> days) {
  Dates out;
  for (int k : days) out.push_back(jan(k));
  return out;
}
std::vector<std::string> tagged(std::initializer_list<std::pair<const char*, int>> list) {
  std::vector<std::string> out;
  for (const auto& [tag, k] : list) out.push_back(std::string(tag) + ":" + std::to_string(k < 100 ? jan(k) : k));
  return out;
}

TEST_F(Splice, MergedResults) {
  using S = std::vector<std::string>;
  struct Case {
    const char* name;
    Dates old;
    Dates fresh;
    S expected;
  };
  const Case cases[] = {
      {"middle", jan({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), jan({5, 6, 7, 8}),
       tagged({{"old", 1}, {"old", 2}, {"old", 3}, {"old", 4}, {"new", 5}, {"new", 6},
               {"new", 7}, {"new", 8}, {"old", 9}, {"old", 10}})},
      {"start at the first date", jan({1, 2, 3}), jan({1, 2}),
       tagged({{"new", 1}, {"new", 2}, {"old", 3}})},
      {"before everything", jan({5, 6}), jan({1, 2}),
       tagged({{"new", 1}, {"new", 2}, {"old", 5}, {"old", 6}})},
      {"append", jan({1, 2}), jan({3, 4}), tagged({{"old", 1}, {"old", 2}, {"new", 3}, {"new", 4}})},
      {"replace all", jan({1, 2}), jan({1, 2}), tagged({{"new", 1}, {"new", 2}})},
      {"into an empty chart", {}, jan({1}), tagged({{"new", 1}})},
      {"year turn", {19991230, 19991231, 20000103, 20000104, 20000110},
       {20000103, 20000104, 20000105, 20000106, 20000107},
       {"old:19991230", "old:19991231", "new:20000103", "new:20000104", "new:20000105",
        "new:20000106", "new:20000107", "old:20000110"}},
  };
  for (const Case& c : cases) {
    std::string target = dir.file("ibm.M");
    const Bytes before = chart(c.old, 'W');
    write_file(target, before);
    range.first = c.fresh.front();
    ASSERT_EQ(store_splice(target, range, writer(c.fresh)), 1) << c.name;
    const Bytes after = read_file(target);
    EXPECT_EQ(records(after), c.expected) << c.name;
    // The old header stays, with the last new date at offset 118.
    ASSERT_GE(after.size(), 128u);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 118, after.begin())) << c.name;
    EXPECT_EQ(static_cast<std::int32_t>(le32(after, 118)), c.fresh.back()) << c.name;
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"ibm.M"}) << c.name;
  }
}

TEST_F(Splice, MissingEmptyAndShortTargetsGetANewHeader) {
  struct Case {
    const char* name;
    bool exists;
    std::size_t size;
  };
  const Case cases[] = {{"missing", false, 0}, {"empty", true, 0}, {"short", true, 127}};
  for (const Case& c : cases) {
    std::string target = dir.file("new.M");
    remove_tree(target);
    // (A cut-off chart: it starts as a header does.)
    if (c.exists) write_file(target, cut_header(c.size));
    range.type = 'N';
    range.first = 101;
    ASSERT_EQ(store_splice(target, range, writer({101, 102})), 1) << c.name;
    Bytes expected = header('N', 102);
    append_bar(expected, 101, 2.0f);
    append_bar(expected, 102, 2.0f);
    EXPECT_EQ(read_file(target), expected) << c.name;
  }
}

TEST_F(Splice, HeaderDateRules) {
  struct Case {
    std::int32_t last;
    bool written;
  };
  const Case cases[] = {{0, false}, {100, false}, {101, true}, {99999999, true}, {100000000, false}};
  for (const Case& c : cases) {
    std::string target = dir.file("h.M");
    write_file(target, chart({20240105}));
    range.first = 200000000;  // keeps the old bar
    range.last = c.last;
    ASSERT_EQ(store_splice(target, range, [](std::FILE*) { return 1; }), 1);
    EXPECT_EQ(static_cast<std::int32_t>(le32(read_file(target), 118)), c.written ? c.last : 20240105)
        << c.last;
  }
  // A command with its own rule.
  std::string target = dir.file("h.M");
  write_file(target, chart({20240105}));
  SpliceOptions weekly;
  weekly.header_date = [](std::int32_t last, std::int32_t* date) {
    *date = last + 1;
    return last + 1 <= 999999;
  };
  range.last = 990101;
  ASSERT_EQ(store_splice(target, range, [](std::FILE*) { return 1; }, weekly), 1);
  EXPECT_EQ(le32(read_file(target), 118), 990102u);
}

TEST_F(Splice, OldTargetIsUpgradedFirst) {
  std::string target = dir.file("old.M");
  write_file(target, chart({991230, 991231, 101}));
  range.first = 20000103;
  ASSERT_EQ(store_splice(target, range, writer({20000103})), 1);
  EXPECT_EQ(records(read_file(target)),
            (std::vector<std::string>{"old:19991230", "old:19991231", "old:20000101", "new:20000103"}));
}

TEST_F(Splice, TemporaryFileLivesBesideTheTargetAndNeverFollowsALink) {
  const std::string sub = dir.mkdirs("csv_i");
  const std::string victim = dir.file("victim");
  write_text(victim, "must stay");
  ASSERT_EQ(symlink(victim.c_str(), (sub + "/tmpmorva.gph").c_str()), 0);
  std::string target = sub + "/ibm.M";
  write_file(target, chart(jan({1, 2})));
  chmod(target.c_str(), 0604);
  ScopedChdir here(dir.path());
  range.first = jan(2);  // replaces a stored bar: a new file, renamed into place
  ASSERT_EQ(store_splice(target, range, writer(jan({2, 3}))), 1);
  EXPECT_EQ(read_text(victim), "must stay");
  EXPECT_EQ(list_dir(sub), (std::vector<std::string>{"ibm.M", "tmpmorva.gph"}));
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"csv_i", "victim"}));
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(Splice, FallbackNameWhenTheTargetCannotBeCreated) {
  ScopedChdir here(dir.path());
  const Bytes earlier = chart({7});
  write_file("_", earlier);
  std::string target = "no/such/dir/ibm.M";
  range.first = 101;
  // A failing store leaves an earlier "_" alone.
  EXPECT_EQ(store_splice(target, range, [](std::FILE*) { return 0; }), 0);
  EXPECT_EQ(target, "_");
  EXPECT_EQ(read_file("_"), earlier);
  target = "no/such/dir/ibm.M";
  ASSERT_EQ(store_splice(target, range, writer({101})), 1);
  EXPECT_EQ(target, "_");
  EXPECT_EQ(records(read_file("_")), std::vector<std::string>{"new:101"});
  // Without the fallback the store just fails.
  target = "no/such/dir/ibm.M";
  SpliceOptions strict;
  strict.fallback_name = false;
  EXPECT_EQ(store_splice(target, range, writer({101}), strict), 0);
  EXPECT_EQ(target, "no/such/dir/ibm.M");
}

TEST_F(Splice, UnusableTargetsFailWithoutHarm) {
  std::string target = dir.mkdirs("a_directory");
  range.first = 1;
  EXPECT_EQ(store_splice(target, range, writer({1})), 0);
  EXPECT_TRUE(list_dir(target).empty());
  std::string empty;
  EXPECT_EQ(store_splice(empty, range, writer({1})), 0);
}

// Every way a store can fail must leave the target byte for byte as it was
// (or absent, when it did not exist) and no temporary file behind.
TEST_F(Splice, FailureAtEveryStepLeavesTheTargetUnchanged) {
  struct Setup {
    const char* name;
    bool exists;
    Dates old;
  };
  Dates many;
  for (int d = 1; d <= 400; ++d) many.push_back(20240000 + d * 2);  // several copy blocks
  const Setup setups[] = {
      {"existing", true, many},
      {"old two-digit years", true, {991230, 991231}},
      {"short", true, {}},
      {"missing", false, {}},
  };
  enum Kind { kWrite, kCreate, kRename, kStepFails, kStepThrows };
  int injected = 0;
  TempDir elsewhere;  // the current directory, where a fallback "_" would go
  ScopedChdir here(elsewhere.path());
  SpliceOptions no_fallback;
  no_fallback.fallback_name = false;
  for (const Setup& s : setups) {
    for (Kind kind : {kWrite, kCreate, kRename, kStepFails, kStepThrows}) {
      for (int n = 1; n <= 40; ++n) {
        SCOPED_TRACE(std::string(s.name) + " kind " + std::to_string(kind) + " n " + std::to_string(n));
        const std::string path = dir.file("ibm.M");
        remove_tree(path);
        Bytes before;
        if (s.exists) {
          before = s.old.empty() ? cut_header(60) : chart(s.old);
          write_file(path, before);
        }
        faults_reset();
        if (kind == kWrite) g_faults.fail_write = n;
        if (kind == kCreate) g_faults.fail_create = n;
        if (kind == kRename) g_faults.fail_rename = n;
        NewBarsStep step = writer({20240301, 20240302, 20240303});
        if (kind == kStepFails) step = [](std::FILE*) { return 0; };
        if (kind == kStepThrows) step = [](std::FILE*) -> int { throw std::runtime_error("x"); };
        range.first = 20240301;
        std::string target = path;
        const int r = store_splice(target, range, step, no_fallback);
        const int calls = kind == kWrite ? g_faults.writes
                          : kind == kCreate ? g_faults.creates
                                            : g_faults.renames;
        const bool hit = kind == kStepFails || kind == kStepThrows || calls >= n;
        if (!hit) {
          EXPECT_EQ(r, 1);
          break;  // past the last call of this kind
        }
        ++injected;
        EXPECT_EQ(r, 0);
        EXPECT_EQ(target, path);
        if (s.exists) {
          EXPECT_EQ(read_file(path), before);
          EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"ibm.M"});
        } else {
          EXPECT_TRUE(list_dir(dir.path()).empty());
        }
        if (kind == kStepFails || kind == kStepThrows) break;
      }
    }
  }
  EXPECT_GT(injected, 20);
  EXPECT_TRUE(list_dir(elsewhere.path()).empty());
}

TEST_F(Splice, StepStartsRightAfterTheLeadingCopy) {
  std::string target = dir.file("pos.M");
  write_file(target, chart(jan({1, 2, 3, 4})));
  range.first = jan(3);
  long seen = -1;
  ASSERT_EQ(store_splice(target, range,
                         [&](std::FILE* tmp) {
                           seen = std::ftell(tmp);
                           return writer(jan({3}))(tmp);
                         }),
            1);
  EXPECT_EQ(seen, 128 + 2 * 28);
}

class Replace : public Splice {};

TEST_F(Replace, CommitsWholeFilesAndKeepsModeAndLinks) {
  const std::string real = dir.file("setup.mrv"), link = dir.file("link.mrv");
  write_text(real, "old content");
  chmod(real.c_str(), 0640);
  ASSERT_EQ(symlink("setup.mrv", link.c_str()), 0);
  const unsigned char bytes[] = {1, 2, 3};
  ASSERT_EQ(replace_file(link, bytes), 1);
  EXPECT_EQ(read_file(real), Bytes({1, 2, 3}));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"link.mrv", "setup.mrv"}));

  // A new file gets the usual permissions, not the private ones of the
  // temporary file.
  const mode_t mask = umask(022);
  ASSERT_EQ(replace_file(dir.file("fresh"), bytes), 1);
  umask(mask);
  ASSERT_EQ(stat(dir.file("fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(Replace, AnyFailureKeepsTheTarget) {
  const std::string path = dir.file("f");
  for (int kind = 0; kind < 5; ++kind) {
    write_text(path, "before");
    faults_reset();
    {
      if (kind == 0) g_faults.fail_create = 1;
      if (kind == 1) g_faults.fail_write = 2;
      if (kind == 2) g_faults.fail_rename = 1;
      SafeReplace out(path);
      out.write("new ", 4);
      out.write("content", 7);
      if (kind == 3) {
        out.discard();
      } else if (kind == 4) {
        // not committed: the destructor throws the new content away
      } else {
        EXPECT_EQ(out.commit(), 0) << kind;
      }
      if (kind != 4) {
        EXPECT_FALSE(out.ok()) << kind;
      }
    }
    EXPECT_EQ(read_text(path), "before") << kind;
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"f"}) << kind;
  }
  faults_reset();
  SafeReplace out(path);
  ASSERT_TRUE(out.ok());
  std::fputs("through the stream", out.stream());
  EXPECT_EQ(out.commit(), 1);
  EXPECT_EQ(read_text(path), "through the stream");
  EXPECT_EQ(replace_file(dir.file("no/dir/f"), std::span<const unsigned char>()), 0);
}

}  // namespace
