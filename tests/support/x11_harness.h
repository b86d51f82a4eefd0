// Test harness for the real window: a private Xvfb server, the program (or
// a forked piece of the test) running against it, keys and clicks sent
// through XTest, the shadow text read from the file the program writes
// when it waits for input, and PNG pictures of the window.
//
//   xh::Xvfb server(1024);                       // :N, 1024x768, our fonts
//   TempDir home;
//   xh::MorvaProcess app;
//   app.start({.cwd = home.path(), .home = home.path(), .display = server.display()});
//   ASSERT_TRUE(app.wait_for_text("F2", 5000));
//   xh::XDriver drv(server.display());
//   drv.find_window(app.pid());
//   drv.key(xh::kF1 + 1);                        // F2
//   drv.type("ibm.txt\r");
//   EXPECT_EQ(app.wait_exit(10000), 0);
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xh {

// Key symbols for XDriver::key (the X protocol's values).
constexpr unsigned kReturn = 0xff0d, kEscape = 0xff1b, kTab = 0xff09, kBackSpace = 0xff08;
constexpr unsigned kHome = 0xff50, kLeft = 0xff51, kUp = 0xff52, kRight = 0xff53, kDown = 0xff54;
constexpr unsigned kPageUp = 0xff55, kPageDown = 0xff56, kEnd = 0xff57, kInsert = 0xff63,
                   kDelete = 0xffff;
constexpr unsigned kKP_Enter = 0xff8d, kKP_Add = 0xffab, kKP_Subtract = 0xffad;
constexpr unsigned kF1 = 0xffbe;  // F1..F12 follow
// Modifiers for XDriver::key.
constexpr unsigned kShift = 1, kControl = 4, kAlt = 8;

// The usual height of an X screen of that width (640x480 ... 1920x1080).
int screen_height_for(int width);
// Font folders: misc, 75dpi and 100dpi, bitmap fonts only (not scaled).
std::string font_dir(std::string_view name);
std::vector<std::string> default_font_path();

// A private Xvfb on a free display number, stopped on destruction.  The
// server and the program of MorvaProcess are started so that they die with
// the test process however it ends (a failed assertion, alarm, a signal).
class Xvfb {
 public:
  explicit Xvfb(int width = 1024, int height = 0,
                std::vector<std::string> font_path = default_font_path());
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool ok() const { return pid_ > 0 && !display_.empty(); }
  const std::string& display() const { return display_; }  // ":93"
  int width() const { return width_; }
  // Points DISPLAY of this process at the server (for in-process tests).
  void use_here() const;

 private:
  pid_t pid_ = -1;
  std::string display_;
  int width_ = 0;
};

struct WindowInfo {
  unsigned long id = 0;
  int x = 0, y = 0;           // inside of the window, in root coordinates
  int width = 0, height = 0;
  std::string title;
};

// A second connection to the server that finds the program's window and
// drives it through XTest.
class XDriver {
 public:
  explicit XDriver(const std::string& display);
  ~XDriver();
  XDriver(const XDriver&) = delete;
  XDriver& operator=(const XDriver&) = delete;
  bool ok() const { return dpy_ != nullptr; }

  // Finds a top-level window by the process id it announces (0: any) or by
  // its title (empty: any), waiting up to timeout_ms; gives it the focus.
  bool find_window(pid_t pid = 0, std::string_view title = {}, int timeout_ms = 5000);
  const WindowInfo& window() const { return win_; }
  WindowInfo refresh();  // position and size now

  // Presses and releases a key by symbol, with modifiers held around it.
  void key(unsigned keysym, unsigned modifiers = 0);
  // Each character as its key ('\r', '\n' Enter; '\t' Tab; '\x1b' ESC; '\b' Backspace).
  void type(std::string_view text);
  void enter() { key(kReturn); }
  void esc() { key(kEscape); }
  void fkey(int n, unsigned modifiers = 0) { key(kF1 + static_cast<unsigned>(n - 1), modifiers); }

  // The cell size of the window: pixels per column and row.
  int cell_width() const;
  int cell_height() const;
  // Moves the pointer over the middle of a cell and clicks a button.
  void click(int row, int col, int button = 1);
  void move_to_cell(int row, int col);
  void button(int button, bool press);

  // The window's pixels as 0xRRGGBB, row-major; empty on failure.
  std::vector<std::uint32_t> capture(int* width = nullptr, int* height = nullptr);
  // Saves the window as a PNG file.
  bool save_png(const std::string& path);
  void sync();
  // The red, green and blue values (16 bits each) of a pixel value in the
  // default colour map.
  bool query_colour(unsigned long pixel, unsigned short rgb[3]);
  unsigned long black_pixel();
  unsigned long white_pixel();
  // Gives keycode its key symbols (level 1, level 2) on the server: for
  // tests that move keys to another keycode set.  Returns false on failure.
  bool remap_keycode(int keycode, unsigned keysym, unsigned shifted_keysym);
  // Asks the server to resize the window, as a window manager would.
  void request_resize(int width, int height);
  // Takes a keycode out of the modifier map (before giving it another key).
  bool clear_modifier_keycode(int keycode);
  // The keycode of a key symbol (0: none).
  int keycode_of(unsigned keysym);
  // Presses and releases a key by keycode.
  void keycode(int keycode, unsigned modifiers = 0);

 private:
  void* dpy_ = nullptr;  // Display*
  WindowInfo win_;
  int maxrow_ = 0;
};

// The screen library of this very process on a private Xvfb: starts the
// server, points DISPLAY at it, calls scr_setup, sets the mouse cell size
// and mousereset() as the program's set-up does, and finds the window.  One
// per test program (scr_setup opens the one window of the process).
class InProcessScreen {
 public:
  explicit InProcessScreen(int width = 1024, const char* title = "screen test");
  ~InProcessScreen();  // closes the display
  bool ok() const { return ok_; }
  Xvfb& server() { return server_; }
  XDriver& driver() { return *driver_; }

 private:
  Xvfb server_;
  std::unique_ptr<XDriver> driver_;
  bool ok_ = false;
};

// Polls scr_csts until it gives a code or timeout_ms passes (then 0).
unsigned char poll_key(int timeout_ms = 3000);
// Polls scr_getc(mode) (mode 0 or a polling mode) the same way.
unsigned char poll_getc(int mode, int timeout_ms = 3000);

// Writes 24-bit RGB pixels (0xRRGGBB) as a PNG file.
bool write_png(const std::string& path, int width, int height, const std::vector<std::uint32_t>& rgb);

// The program under test, started with posix_spawn.
struct MorvaOptions {
  std::string cwd{};                 // working folder
  std::string home{};                // HOME
  std::string display{};             // DISPLAY (empty: none)
  std::string dump_path{};           // shadow-text file (empty: cwd + "/shadow.txt")
  std::vector<std::string> args{};   // command-line arguments
  std::string binary{};              // empty: MORVA_BINARY_DIR "/morvautl"
};

class MorvaProcess {
 public:
  MorvaProcess() = default;
  ~MorvaProcess();  // kills the program if it still runs
  MorvaProcess(const MorvaProcess&) = delete;
  MorvaProcess& operator=(const MorvaProcess&) = delete;

  bool start(const MorvaOptions& options);
  pid_t pid() const { return pid_; }
  // Waits until the shadow text written at the program's last wait for
  // input holds `text`.  Returns false on timeout or when the program ended.
  bool wait_for_text(std::string_view text, int timeout_ms = 5000);
  // The last shadow text written (empty before the first).
  std::string screen() const;
  // Exit status, -1 on timeout (the program is then killed), 128+n for a signal.
  int wait_exit(int timeout_ms = 10000);
  // What the program wrote to standard output and standard error.
  std::string output() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string dump_, out_path_;
};

// Runs `body` in a forked child with its standard output captured; the
// child's exit status is body's result, or the status it exited with.
struct ForkResult {
  int status = -1;     // exit status; 128+n for a signal; -1 timeout
  std::string output;  // standard output of the child
};
ForkResult run_forked(const std::function<int()>& body, int timeout_ms = 20000);

// Exit status of a child from waitpid's status word.
int decode_status(int wstatus);

}  // namespace xh
