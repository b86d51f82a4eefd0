#include "x11_harness.h"

#include "screen/screen.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <png.h>
#include <setjmp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>


namespace xh {

namespace {

using Clock = std::chrono::steady_clock;

Display* D(void* p) { return static_cast<Display*>(p); }

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int ms_since(Clock::time_point t0) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Waits for a child with a time limit; -1 on timeout.
int wait_child(pid_t pid, int timeout_ms) {
  const auto t0 = Clock::now();
  for (;;) {
    int st = 0;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) return decode_status(st);
    if (r < 0 && errno != EINTR) return -1;
    if (ms_since(t0) > timeout_ms) return -1;
    sleep_ms(10);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// How a child of the test is started: its folder, where its output goes,
// and a descriptor it keeps open (the others are closed on exec).
struct SpawnSetup {
  const char* cwd = nullptr;       // null: this process's folder
  const char* out_path = nullptr;  // standard output and error; null: /dev/null
  int keep_fd = -1;
};

// Starts argv with envp (null: this environment, PATH searched) as a child
// that dies with the thread that started it: a test that fails, is
// stopped by alarm or a signal, or forgets a destructor never leaves its
// server or program running.  -1 when it could not be started.
pid_t spawn_owned(const std::vector<std::string>& args, const std::vector<std::string>* env,
                  const SpawnSetup& setup) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (env) {
    for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  // Everything the child needs is made before fork: after it, only
  // async-signal-safe calls.
  const pid_t parent = getpid();
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(err[0]);
    close(err[1]);
    return -1;
  }
  if (pid == 0) {
    close(err[0]);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    setpgid(0, 0);  // its own group: a terminal's Ctrl+C goes to the test alone
    const int out = setup.out_path ? open(setup.out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                                   : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
    if (setup.cwd && chdir(setup.cwd) != 0) _exit(127);
    if (setup.keep_fd >= 0) fcntl(setup.keep_fd, F_SETFD, 0);
    if (env)
      execve(argv[0], argv.data(), envp.data());
    else
      execvp(argv[0], argv.data());
    const int e = errno;
    (void)!write(err[1], &e, sizeof e);
    _exit(127);
  }
  close(err[1]);
  int e = 0;
  ssize_t n;
  while ((n = read(err[0], &e, sizeof e)) < 0 && errno == EINTR) {
  }
  close(err[0]);
  if (n > 0) {  // exec failed
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

}  // namespace

int decode_status(int st) {
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

int screen_height_for(int width) {
  switch (width) {
    case 640: return 480;
    case 800: return 600;
    case 1024: return 768;
    case 1280: return 1024;
    case 1600: return 1200;
    case 1920: return 1080;
    default: return width * 3 / 4;
  }
}

std::string font_dir(std::string_view name) {
  return "/usr/share/fonts/X11/" + std::string(name) + "/:unscaled";
}

std::vector<std::string> default_font_path() {
  return {font_dir("misc"), font_dir("75dpi"), font_dir("100dpi")};
}

// ---- Xvfb ------------------------------------------------------------------

Xvfb::Xvfb(int width, int height, std::vector<std::string> font_path) : width_(width) {
  if (height <= 0) height = screen_height_for(width);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  std::string fp;
  for (const auto& f : font_path) fp += (fp.empty() ? "" : ",") + f;
  const std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(fds[1]);
  const std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", geometry,
                                         "-nolisten", "tcp", "-fp", fp};
  // The owner's process id in the server's environment lets the suite's
  // final check find servers whose test has ended.
  setenv("MORVA_TEST_XVFB_OWNER", std::to_string(getpid()).c_str(), 1);
  SpawnSetup setup;
  setup.keep_fd = fds[1];
  const pid_t pid = spawn_owned(args, nullptr, setup);
  unsetenv("MORVA_TEST_XVFB_OWNER");
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return;
  }
  pid_ = pid;
  // The server writes its display number once it accepts connections.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto t0 = Clock::now();
  while (ms_since(t0) < 15000) {
    if (poll(&p, 1, 200) > 0) {
      char buf[32];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<std::size_t>(n));
      if (number.find('\n') != std::string::npos) break;
    }
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty()) {
    kill(pid_, SIGTERM);
    wait_child(pid_, 5000);
    pid_ = -1;
    return;
  }
  display_ = ":" + number;
}

Xvfb::~Xvfb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (wait_child(pid_, 5000) < 0) {
      kill(pid_, SIGKILL);
      wait_child(pid_, 5000);
    }
  }
}

void Xvfb::use_here() const { setenv("DISPLAY", display_.c_str(), 1); }

// ---- XDriver -----------------------------------------------------------------

XDriver::XDriver(const std::string& display) { dpy_ = XOpenDisplay(display.c_str()); }

XDriver::~XDriver() {
  if (dpy_) XCloseDisplay(D(dpy_));
}

namespace {

long window_pid(Display* d, Window w) {
  Atom pid_atom = XInternAtom(d, "_NET_WM_PID", True);
  if (pid_atom == None) return 0;
  Atom type;
  int format;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = 0;
  if (XGetWindowProperty(d, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after, &data) ==
          Success &&
      data) {
    if (n == 1 && format == 32) pid = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  return pid;
}

std::string window_title(Display* d, Window w) {
  char* name = nullptr;
  std::string t;
  if (XFetchName(d, w, &name) && name) {
    t = name;
    XFree(name);
  }
  return t;
}

}  // namespace

WindowInfo XDriver::refresh() {
  if (!dpy_ || !win_.id) return win_;
  Display* d = D(dpy_);
  XWindowAttributes a;
  if (XGetWindowAttributes(d, win_.id, &a)) {
    Window child;
    int rx = 0, ry = 0;
    XTranslateCoordinates(d, win_.id, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    win_.x = rx;
    win_.y = ry;
    win_.width = a.width;
    win_.height = a.height;
  }
  return win_;
}

bool XDriver::find_window(pid_t pid, std::string_view title, int timeout_ms) {
  if (!dpy_) return false;
  Display* d = D(dpy_);
  const auto t0 = Clock::now();
  while (ms_since(t0) <= timeout_ms) {
    Window root_ret, parent;
    Window* kids = nullptr;
    unsigned n = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root_ret, &parent, &kids, &n)) {
      for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, kids[i], &a) || a.map_state != IsViewable) continue;
        if (pid && window_pid(d, kids[i]) != pid) continue;
        const std::string t = window_title(d, kids[i]);
        if (!title.empty() && t != title) continue;
        if (!pid && title.empty() && t.empty()) continue;
        win_ = {};
        win_.id = kids[i];
        win_.title = t;
        if (kids) XFree(kids);
        refresh();
        // The screen library's geometry table: the window size gives the rows.
        static constexpr int sizes[][3] = {{632, 450, 30}, {560, 429, 33}, {790, 540, 30},
                                           {720, 540, 36}, {960, 682, 31}, {880, 693, 33},
                                           {1120, 950, 38}, {1272, 945, 35}, {1580, 1116, 31}};
        maxrow_ = 0;
        for (const auto& s : sizes)
          if (s[0] == win_.width && s[1] == win_.height) maxrow_ = s[2];
        XSetInputFocus(d, win_.id, RevertToPointerRoot, CurrentTime);
        XWarpPointer(d, None, win_.id, 0, 0, 0, 0, 1, 1);
        XSync(d, False);
        return true;
      }
      if (kids) XFree(kids);
    }
    sleep_ms(50);
  }
  return false;
}

int XDriver::cell_width() const { return win_.width / 79; }
int XDriver::cell_height() const { return maxrow_ ? win_.height / maxrow_ : 0; }

void XDriver::sync() {
  if (dpy_) XSync(D(dpy_), False);
}

void XDriver::key(unsigned keysym, unsigned modifiers) {
  if (!dpy_) return;
  Display* d = D(dpy_);
  KeyCode kc = XKeysymToKeycode(d, keysym);
  if (!kc) return;
  // A symbol on the key's shifted level needs Shift.
  if (XkbKeycodeToKeysym(d, kc, 0, 0) != keysym && XkbKeycodeToKeysym(d, kc, 0, 1) == keysym)
    modifiers |= kShift;
  struct Mod {
    unsigned bit;
    KeySym sym;
  };
  static constexpr Mod mods[] = {{kControl, 0xffe3}, {kShift, 0xffe1}, {kAlt, 0xffe9}};
  for (const auto& m : mods)
    if (modifiers & m.bit) XTestFakeKeyEvent(d, XKeysymToKeycode(d, m.sym), True, 0);
  XTestFakeKeyEvent(d, kc, True, 0);
  XTestFakeKeyEvent(d, kc, False, 0);
  for (const auto& m : mods)
    if (modifiers & m.bit) XTestFakeKeyEvent(d, XKeysymToKeycode(d, m.sym), False, 0);
  XSync(d, False);
}

void XDriver::type(std::string_view text) {
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    unsigned ks = c;
    if (c == '\r' || c == '\n')
      ks = kReturn;
    else if (c == '\t')
      ks = kTab;
    else if (c == 0x1b)
      ks = kEscape;
    else if (c == '\b')
      ks = kBackSpace;
    key(ks);
  }
}

void XDriver::move_to_cell(int row, int col) {
  if (!dpy_) return;
  refresh();
  Display* d = D(dpy_);
  const int x = win_.x + col * cell_width() + cell_width() / 2;
  const int y = win_.y + row * cell_height() + cell_height() / 2;
  XTestFakeMotionEvent(d, DefaultScreen(d), x, y, 0);
  XSync(d, False);
}

void XDriver::button(int b, bool press) {
  if (!dpy_) return;
  XTestFakeButtonEvent(D(dpy_), static_cast<unsigned>(b), press ? True : False, 0);
  XSync(D(dpy_), False);
}

void XDriver::click(int row, int col, int b) {
  move_to_cell(row, col);
  button(b, true);
  button(b, false);
}

std::vector<std::uint32_t> XDriver::capture(int* width, int* height) {
  std::vector<std::uint32_t> rgb;
  if (!dpy_ || !win_.id) return rgb;
  Display* d = D(dpy_);
  refresh();
  XImage* img = XGetImage(d, win_.id, 0, 0, static_cast<unsigned>(win_.width),
                          static_cast<unsigned>(win_.height), AllPlanes, ZPixmap);
  if (!img) return rgb;
  rgb.resize(static_cast<std::size_t>(win_.width) * win_.height);
  Colormap cmap = DefaultColormap(d, DefaultScreen(d));
  const bool truecolour = img->red_mask == 0xff0000 && img->green_mask == 0xff00 && img->blue_mask == 0xff;
  for (int y = 0; y < win_.height; ++y)
    for (int x = 0; x < win_.width; ++x) {
      unsigned long p = XGetPixel(img, x, y);
      if (!truecolour) {
        XColor c{};
        c.pixel = p;
        XQueryColor(d, cmap, &c);
        p = ((c.red >> 8) << 16) | ((c.green >> 8) << 8) | (c.blue >> 8);
      }
      rgb[static_cast<std::size_t>(y) * win_.width + x] = static_cast<std::uint32_t>(p & 0xffffff);
    }
  XDestroyImage(img);
  if (width) *width = win_.width;
  if (height) *height = win_.height;
  return rgb;
}

bool XDriver::save_png(const std::string& path) {
  int w = 0, h = 0;
  auto rgb = capture(&w, &h);
  return !rgb.empty() && write_png(path, w, h, rgb);
}

bool XDriver::query_colour(unsigned long pixel, unsigned short rgb[3]) {
  if (!dpy_) return false;
  Display* d = D(dpy_);
  XColor c{};
  c.pixel = pixel;
  XQueryColor(d, DefaultColormap(d, DefaultScreen(d)), &c);
  rgb[0] = c.red;
  rgb[1] = c.green;
  rgb[2] = c.blue;
  return true;
}

unsigned long XDriver::black_pixel() { return dpy_ ? BlackPixel(D(dpy_), DefaultScreen(D(dpy_))) : 0; }
unsigned long XDriver::white_pixel() { return dpy_ ? WhitePixel(D(dpy_), DefaultScreen(D(dpy_))) : 0; }

bool XDriver::remap_keycode(int code, unsigned ks, unsigned shifted) {
  if (!dpy_) return false;
  Display* d = D(dpy_);
  KeySym syms[2] = {ks, shifted ? shifted : ks};
  XChangeKeyboardMapping(d, code, 2, syms, 1);
  XSync(d, False);
  return true;
}

void XDriver::request_resize(int w, int h) {
  if (!dpy_ || !win_.id) return;
  XResizeWindow(D(dpy_), win_.id, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XSync(D(dpy_), False);
}

bool XDriver::clear_modifier_keycode(int code) {
  if (!dpy_) return false;
  Display* d = D(dpy_);
  XModifierKeymap* map = XGetModifierMapping(d);
  if (!map) return false;
  for (int m = 0; m < 8; ++m) map = XDeleteModifiermapEntry(map, static_cast<KeyCode>(code), m);
  // The server refuses while a key of the map is held; retry briefly.
  int rc = MappingBusy;
  for (int i = 0; i < 50 && rc == MappingBusy; ++i) {
    rc = XSetModifierMapping(d, map);
    if (rc == MappingBusy) sleep_ms(20);
  }
  XFreeModifiermap(map);
  XSync(d, False);
  return rc == MappingSuccess;
}

int XDriver::keycode_of(unsigned ks) { return dpy_ ? XKeysymToKeycode(D(dpy_), ks) : 0; }

void XDriver::keycode(int code, unsigned modifiers) {
  if (!dpy_) return;
  Display* d = D(dpy_);
  struct Mod {
    unsigned bit;
    KeySym sym;
  };
  static constexpr Mod mods[] = {{kControl, 0xffe3}, {kShift, 0xffe1}, {kAlt, 0xffe9}};
  for (const auto& m : mods)
    if (modifiers & m.bit) XTestFakeKeyEvent(d, XKeysymToKeycode(d, m.sym), True, 0);
  XTestFakeKeyEvent(d, static_cast<unsigned>(code), True, 0);
  XTestFakeKeyEvent(d, static_cast<unsigned>(code), False, 0);
  for (const auto& m : mods)
    if (modifiers & m.bit) XTestFakeKeyEvent(d, XKeysymToKeycode(d, m.sym), False, 0);
  XSync(d, False);
}

// ---- The screen library of this process -------------------------------------------

InProcessScreen::InProcessScreen(int width, const char* title) : server_(width) {
  if (!server_.ok()) return;
  server_.use_here();
  scr_setup(title);
  // What the set-up of the program does next for the mouse.
  HPXC = static_cast<unsigned>(pixelspercol);
  VPXC = static_cast<unsigned>(pixelsperrow);
  mousereset();
  driver_ = std::make_unique<XDriver>(server_.display());
  ok_ = driver_->ok() && driver_->find_window(getpid());
}

InProcessScreen::~InProcessScreen() {
  driver_.reset();
  if (server_.ok()) Xclosedis();
}

unsigned char poll_key(int timeout_ms) {
  const auto t0 = Clock::now();
  do {
    if (const unsigned char c = scr_csts()) return c;
    sleep_ms(5);
  } while (ms_since(t0) < timeout_ms);
  return 0;
}

unsigned char poll_getc(int mode, int timeout_ms) {
  const auto t0 = Clock::now();
  do {
    if (const unsigned char c = scr_getc(mode)) return c;
    sleep_ms(5);
  } while (ms_since(t0) < timeout_ms);
  return 0;
}

// ---- PNG (libpng, compressed) ------------------------------------------------------

namespace {

// The file and libpng's write state, released on every path.
struct PngFile {
  FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngFile() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file) std::fclose(file);
  }
};

// libpng reports a failure by a jump back here; nothing with a destructor
// lives in this frame.
bool encode_png(PngFile& f, int width, int height, png_bytep* rows) {
  if (setjmp(png_jmpbuf(f.png)) != 0) return false;
  png_init_io(f.png, f.file);
  png_set_compression_level(f.png, 9);
  png_set_IHDR(f.png, f.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(f.png, f.info);
  png_write_image(f.png, rows);
  png_write_end(f.png, nullptr);
  return true;
}

}  // namespace

bool write_png(const std::string& path, int width, int height, const std::vector<std::uint32_t>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height) return false;
  std::vector<png_byte> rows(static_cast<std::size_t>(height) * width * 3);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
    rows[3 * i] = static_cast<png_byte>(rgb[i] >> 16);
    rows[3 * i + 1] = static_cast<png_byte>(rgb[i] >> 8);
    rows[3 * i + 2] = static_cast<png_byte>(rgb[i]);
  }
  std::vector<png_bytep> row_ptrs(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) row_ptrs[y] = rows.data() + static_cast<std::size_t>(y) * width * 3;

  // Written to a temporary name and renamed: a reader never sees half a file.
  const std::string tmp = path + ".tmp";
  bool written = false;
  {
    PngFile f;
    f.file = std::fopen(tmp.c_str(), "wb");
    if (f.file) f.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (f.png) f.info = png_create_info_struct(f.png);
    written = f.info && encode_png(f, width, height, row_ptrs.data());
    if (f.file) {
      written = std::fflush(f.file) == 0 && written;
      written = std::fclose(f.file) == 0 && written;
      f.file = nullptr;
    }
  }
  if (!written) {
    std::remove(tmp.c_str());
    return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

// ---- The program as a child process ----------------------------------------------

MorvaProcess::~MorvaProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    wait_child(pid_, 5000);
  }
}

bool MorvaProcess::start(const MorvaOptions& o) {
  const std::string cwd = o.cwd.empty() ? "." : o.cwd;
  dump_ = o.dump_path.empty() ? cwd + "/shadow.txt" : o.dump_path;
  out_path_ = dump_ + ".out";
  std::remove(dump_.c_str());
#ifdef MORVA_BINARY_DIR
  const std::string binary = o.binary.empty() ? std::string(MORVA_BINARY_DIR) + "/morvautl" : o.binary;
#else
  const std::string binary = o.binary;
#endif
  std::vector<std::string> args = {binary};
  args.insert(args.end(), o.args.begin(), o.args.end());
  std::vector<std::string> env = {"HOME=" + o.home, "MORVA_SHADOW_DUMP=" + dump_,
                                  "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
  if (!o.display.empty()) env.push_back("DISPLAY=" + o.display);
  SpawnSetup setup;
  setup.cwd = cwd.c_str();
  setup.out_path = out_path_.c_str();
  pid_ = spawn_owned(args, &env, setup);
  status_ = -1;
  return pid_ > 0;
}

bool MorvaProcess::wait_for_text(std::string_view text, int timeout_ms) {
  const auto t0 = Clock::now();
  for (;;) {
    if (screen().find(text) != std::string::npos) return true;
    if (pid_ > 0 && status_ < 0) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) status_ = decode_status(st);
    }
    if (status_ >= 0 || ms_since(t0) > timeout_ms) return screen().find(text) != std::string::npos;
    sleep_ms(20);
  }
}

std::string MorvaProcess::screen() const { return read_file(dump_); }

int MorvaProcess::wait_exit(int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (status_ >= 0) return status_;
  status_ = wait_child(pid_, timeout_ms);
  if (status_ < 0) {
    kill(pid_, SIGKILL);
    wait_child(pid_, 5000);
    status_ = -1;
    pid_ = -1;
    return -1;
  }
  return status_;
}

std::string MorvaProcess::output() const { return read_file(out_path_); }

// ---- Forked pieces of a test -----------------------------------------------------------

ForkResult run_forked(const std::function<int()>& body, int timeout_ms) {
  ForkResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    const int rc = body();
    std::fflush(stdout);
    _exit(rc);
  }
  close(fds[1]);
  const auto t0 = Clock::now();
  pollfd p{fds[0], POLLIN, 0};
  for (;;) {
    const int left = timeout_ms - ms_since(t0);
    if (left <= 0) break;
    if (poll(&p, 1, left) <= 0) break;
    char buf[4096];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    result.output.append(buf, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  result.status = wait_child(pid, std::max(0, timeout_ms - ms_since(t0)) + 1000);
  if (result.status < 0) {
    kill(pid, SIGKILL);
    wait_child(pid, 5000);
  }
  return result;
}

}  // namespace xh
