// Line and field readers: mygts, go_back_a_line and piece, checked against a
// byte-at-a-time reference where the buffer could make a difference.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "chartdata/linereader.h"
#include "support/tempdir.h"

namespace {

// The line semantics read one byte per read() call, as a reference.
const char* ref_mygts(char* buf, int n, int fd) {
  int budget = n - 1;
  int stored = 0;
  if (budget <= 0) {
    buf[0] = '\0';
    return buf;
  }
  bool last_ok = false;
  for (;;) {
    char c;
    last_ok = ::read(fd, &c, 1) == 1;
    if (!last_ok) break;
    if (c == '\r') {
      if (--budget <= 0) break;
      continue;
    }
    if (c == '\n') break;
    buf[stored++] = c;
    if (--budget <= 0) break;
  }
  buf[stored] = '\0';
  return stored == 0 && !last_ok ? nullptr : buf;
}

void ref_go_back(int fd) {
  for (int examined = 0; examined < 256; ++examined) {
    if (::lseek(fd, -2, SEEK_CUR) < 0) {
      ::lseek(fd, 0, SEEK_SET);
      return;
    }
    char c;
    if (::read(fd, &c, 1) != 1 || c == '\n') return;
  }
}

class File {
 public:
  File(const TempDir& dir, const std::string& name, const std::string& content)
      : path_(dir.file(name)) {
    write_text(path_, content);
    fd_ = ::open(path_.c_str(), O_RDONLY);
  }
  ~File() {
    if (fd_ >= 0) linereader_close(fd_);
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// All results of mygts until it returns none; "<none>" ends the list.
std::vector<std::string> read_all(int fd, int n) {
  std::vector<std::string> out;
  std::vector<char> buf(static_cast<std::size_t>(n > 0 ? n : 1) + 1);
  for (int guard = 0; guard < 1000; ++guard) {
    const char* got = mygts(buf.data(), n, fd);
    if (got == nullptr) {
      out.push_back("<none>");
      break;
    }
    out.push_back(got);
  }
  return out;
}

TEST(Mygts, LineCases) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string content;
    int n;
    V expected;
  };
  const Case cases[] = {
      {"crlf then unterminated", "ab\r\ncd", 255, {"ab", "cd", "<none>"}},
      {"final line feed", "ab\ncd\n", 255, {"ab", "cd", "<none>"}},
      {"budget splits a line", "abcdef\n", 4, {"abc", "def", "", "<none>"}},
      {"empty lines are texts", "\n\nx", 255, {"", "", "x", "<none>"}},
      {"empty file", "", 255, {"<none>"}},
      {"lone carriage return at end", "ab\n\r", 255, {"ab", "<none>"}},
      {"carriage returns use the budget", "a\r\r\rbc\n", 4, {"a", "bc", "", "<none>"}},
      {"budget spent on a carriage return", "ab\rc\n", 3, {"ab", "c", "", "<none>"}},
      {"line of exactly n-1", "abc\nd\n", 4, {"abc", "", "d", "<none>"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    File f(dir, "lines.txt", c.content);
    EXPECT_EQ(read_all(f.fd(), c.n), c.expected) << c.name;
  }
}

TEST(Mygts, NoBudgetReadsNothing) {
  TempDir dir;
  File f(dir, "x.txt", "abc\n");
  char buf[4] = "zzz";
  EXPECT_EQ(mygts(buf, 1, f.fd()), buf);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(linereader_tell(f.fd()), 0);
  EXPECT_EQ(read_all(f.fd(), 255), (std::vector<std::string>{"abc", "<none>"}));
}

TEST(Mygts, LongLineComesInPiecesOf254) {
  TempDir dir;
  std::string line(600, 'x');
  File f(dir, "long.txt", line + "\nend\n");
  auto got = read_all(f.fd(), 255);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].size(), 254u);
  EXPECT_EQ(got[1].size(), 254u);
  EXPECT_EQ(got[2].size(), 92u);
  EXPECT_EQ(got[3], "end");
}

TEST(Mygts, DescriptorPositionFollowsTheLines) {
  TempDir dir;
  File f(dir, "pos.txt", "first\nsecond\nthird\n");
  char buf[255];
  ASSERT_STREQ(mygts(buf, 255, f.fd()), "first");
  EXPECT_EQ(::lseek(f.fd(), 0, SEEK_CUR), 6);
  // A plain read() carries on exactly after the line.
  char c;
  ASSERT_EQ(::read(f.fd(), &c, 1), 1);
  EXPECT_EQ(c, 's');
  ASSERT_STREQ(mygts(buf, 255, f.fd()), "econd");
  // Moving the descriptor directly is seen by the next call.
  ::lseek(f.fd(), 0, SEEK_SET);
  EXPECT_STREQ(mygts(buf, 255, f.fd()), "first");
  linereader_seek(f.fd(), 13);
  EXPECT_EQ(linereader_tell(f.fd()), 13);
  EXPECT_STREQ(mygts(buf, 255, f.fd()), "third");
}

TEST(Mygts, ReusedDescriptorSeesTheNewFile) {
  TempDir dir;
  write_text(dir.file("a.txt"), "alpha line\nalpha two\n");
  write_text(dir.file("b.txt"), "beta line\nbeta two\n");
  char buf[255];
  int fd = ::open(dir.file("a.txt").c_str(), O_RDONLY);
  ASSERT_STREQ(mygts(buf, 255, fd), "alpha line");
  ::close(fd);  // deliberately without linereader_release
  int fd2 = ::open(dir.file("b.txt").c_str(), O_RDONLY);
  ASSERT_EQ(fd2, fd);
  ::lseek(fd2, 11, SEEK_SET);  // the old file's next line started here
  EXPECT_STREQ(mygts(buf, 255, fd2), "eta two");
  ::lseek(fd2, 10, SEEK_SET);
  EXPECT_STREQ(mygts(buf, 255, fd2), "beta two");
  ::lseek(fd2, 0, SEEK_SET);
  EXPECT_STREQ(mygts(buf, 255, fd2), "beta line");
  linereader_close(fd2);
}

TEST(Mygts, FileRewrittenInPlaceIsReadAgain) {
  TempDir dir;
  std::string path = dir.file("c.txt");
  write_text(path, "old one\nold two\n");
  int fd = ::open(path.c_str(), O_RDONLY);
  char buf[255];
  ASSERT_STREQ(mygts(buf, 255, fd), "old one");
  write_text(path, "new one\nnew two plus\n");  // same inode, new size
  EXPECT_STREQ(mygts(buf, 255, fd), "new two plus");
  linereader_close(fd);
}

TEST(Mygts, ReadsFromAPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const char text[] = "one\r\ntwo\nthree";
  ASSERT_EQ(::write(fds[1], text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  ::close(fds[1]);
  EXPECT_EQ(read_all(fds[0], 255), (std::vector<std::string>{"one", "two", "three", "<none>"}));
  go_back_a_line(fds[0]);  // cannot move back: nothing happens
  linereader_close(fds[0]);
}

TEST(GoBackALine, Positions) {
  struct Case {
    const char* name;
    std::string content;
    int lines_read;
    off_t expected;
  };
  const std::string l255(255, 'a'), l256(256, 'b'), l300(300, 'c');
  const Case cases[] = {
      {"after the first line", "abc\ndef\n", 1, 0},
      {"after the second line", "abc\ndef\n", 2, 4},
      {"unterminated last line", "abc\nde", 2, 4},
      {"empty line", "abc\n\nx\n", 2, 4},
      {"nothing read", "abc\n", 0, 0},
      {"line of 255 after another", "x\n" + l255 + "\n", 2, 2},
      {"line of 256 after another stays inside", "x\n" + l256 + "\n", 2, 3},
      {"line of 300 after another stays inside", "x\n" + l300 + "\n", 2, 2 + 45},
      {"first line of 256", l256 + "\n", 1, 1},
  };
  TempDir dir;
  for (const Case& c : cases) {
    File f(dir, "back.txt", c.content);
    char buf[400];
    for (int i = 0; i < c.lines_read; ++i) mygts(buf, sizeof buf, f.fd());
    go_back_a_line(f.fd());
    EXPECT_EQ(linereader_tell(f.fd()), c.expected) << c.name;
  }
}

TEST(GoBackALine, RereadsTheSameLine) {
  TempDir dir;
  File f(dir, "again.txt", "one\r\ntwo\r\nthree\r\n");
  char buf[255];
  mygts(buf, 255, f.fd());
  ASSERT_STREQ(mygts(buf, 255, f.fd()), "two");
  go_back_a_line(f.fd());
  EXPECT_STREQ(mygts(buf, 255, f.fd()), "two");
  EXPECT_STREQ(mygts(buf, 255, f.fd()), "three");
}

// Random files with short and long lines, carriage returns and block
// boundaries; random calls on the buffered readers and on the one-byte
// reference must give the same texts and the same positions.
TEST(LineReaders, AgreeWithByteAtATimeReference) {
  TempDir dir;
  std::mt19937 rng(12345);
  for (int round = 0; round < 6; ++round) {
    std::string content;
    const std::size_t target = round < 3 ? 5000 : 200000;  // past 64 KiB blocks
    while (content.size() < target) {
      int kind = static_cast<int>(rng() % 10);
      std::size_t len = kind == 0 ? 250 + rng() % 100 : rng() % 40;
      for (std::size_t i = 0; i < len; ++i) {
        int r = static_cast<int>(rng() % 30);
        content += r == 0 ? '\r' : static_cast<char>('a' + r % 26);
      }
      content += rng() % 5 == 0 ? "\r\n" : "\n";
    }
    if (round % 2) content += "tail without line feed";
    const std::string path = dir.file("random.txt");
    write_text(path, content);
    int fd = ::open(path.c_str(), O_RDONLY);
    int ref = ::open(path.c_str(), O_RDONLY);
    char a[300], b[300];
    for (int step = 0; step < 8000; ++step) {
      int op = static_cast<int>(rng() % 12);
      if (op == 0) {
        go_back_a_line(fd);
        ref_go_back(ref);
      } else if (op == 1) {
        off_t to = static_cast<off_t>(rng() % (content.size() + 1));
        linereader_seek(fd, to);
        ::lseek(ref, to, SEEK_SET);
      } else {
        int n = op == 2 ? static_cast<int>(1 + rng() % 8) : 255;
        const char* x = mygts(a, n, fd);
        const char* y = ref_mygts(b, n, ref);
        ASSERT_EQ(x == nullptr, y == nullptr) << "round " << round << " step " << step;
        if (x) {
          ASSERT_STREQ(x, y) << "round " << round << " step " << step;
        }
      }
      ASSERT_EQ(linereader_tell(fd), ::lseek(ref, 0, SEEK_CUR))
          << "round " << round << " step " << step << " op " << op;
    }
    linereader_close(fd);
    ::close(ref);
  }
}

// The block reader gives the lines of the one-byte reference whatever its
// block size (lines across block ends, carriage returns, NULs, lines past
// the budget); a line given back comes again, and when the reader goes the
// descriptor stands where the reference stands (at the start of a line
// given back), so mygts carries on from there.
TEST(LineReaders, BlockReaderAgreesWithTheReference) {
  std::vector<std::string> texts = {
      "ab\r\ncd", "abc\n", "\n\n\r\n", "\r", std::string("x\0y\nz\n", 6),
      std::string(254, 'a') + "\n" + std::string(253, 'b') + "\n" + std::string(300, 'c') + "\r\n",
      std::string(250, 'd') + "\r\r\r\r\r\re\n",
  };
  std::mt19937 rng(7);
  for (int t = 0; t < 20; ++t) {
    std::string s;
    const int n = 1000 + static_cast<int>(rng() % 200000);
    for (int i = 0; i < n; ++i) {
      const unsigned r = rng() % 100;
      s += r < 3 ? '\n' : r < 4 ? '\r' : r < 5 ? '\0' : static_cast<char>('a' + r % 26);
    }
    texts.push_back(s);
  }
  TempDir dir;
  for (std::size_t k = 0; k < texts.size(); ++k) {
    SCOPED_TRACE("text " + std::to_string(k));
    File f(dir, "t", texts[k]);
    const int ref = ::open(f.path().c_str(), O_RDONLY);
    char want[kLineBudget], got[kLineBudget];
    const int budget = k % 3 == 2 ? 7 : kLineBudget;
    {
      LineReader src(f.fd(), 1 + k * 97 % 600);
      std::string_view line;
      for (int i = 0;; ++i) {
        const off_t line_start = ::lseek(ref, 0, SEEK_CUR);
        if (!ref_mygts(want, budget, ref)) {
          ASSERT_FALSE(src.next(line, budget));
          break;
        }
        ASSERT_TRUE(src.next(line, budget)) << "line " << i;
        ASSERT_EQ(line, std::string_view(want)) << "line " << i;
        if (i % 5 == 1) {
          src.unread();
          ASSERT_TRUE(src.next(line, budget));
          ASSERT_EQ(line, std::string_view(want)) << "line " << i << " given back";
        }
        if (i == 40) {
          src.unread();  // the reader goes with this line given back
          ::lseek(ref, line_start, SEEK_SET);
          break;
        }
      }
    }
    // The descriptor goes back to mygts where the reader left it.
    ASSERT_EQ(linereader_tell(f.fd()), ::lseek(ref, 0, SEEK_CUR));
    for (;;) {
      const char* x = mygts(got, budget, f.fd());
      const char* y = ref_mygts(want, budget, ref);
      ASSERT_EQ(x == nullptr, y == nullptr);
      if (!x) break;
      ASSERT_STREQ(x, y);
    }
    ::close(ref);
  }
}

TEST(Piece, Fields) {
  struct Case {
    const char* text;
    char sep;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"a,,b", ',', 1, "a"},     {"a,,b", ',', 2, ""},       {"a,,b", ',', 3, "b"},
      {"a,b", ',', 3, ""},       {"/usr/bin", '/', 1, ""},   {"/usr/bin", '/', 2, "usr"},
      {"/usr/bin", '/', 3, "bin"}, {"abc", ',', 1, "abc"},   {"abc", ',', 0, ""},
      {"abc", ',', -1, ""},      {"", ',', 1, ""},           {"a,b,", ',', 3, ""},
      {"a,b,", ',', 4, ""},      {"ibm 20240105 1.5", ' ', 2, "20240105"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(piece(c.text, c.sep, c.n), c.expected)
        << '"' << c.text << "\" field " << c.n;
  }
}

TEST(Piece, LongFieldIsCutAt511) {
  std::string text = std::string(600, 'x') + ",y";
  EXPECT_EQ(std::string(piece(text.c_str(), ',', 1)), std::string(511, 'x'));
  EXPECT_STREQ(piece(text.c_str(), ',', 2), "y");
}

}  // namespace
