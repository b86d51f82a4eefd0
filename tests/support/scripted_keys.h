// The one scripted screen of the headless tests: it wraps the in-memory
// backend and types keys "when the program waits".  The next batch of keys
// goes onto the queue only once the code under test blocks for input, or
// sleeps (the blinking cursor of the line editor), with nothing queued.
// Questions that first throw away waiting keys therefore see their answer,
// and each prompt gets exactly the keys meant for it.
//
//   ScriptedKeys keys;                      // wraps the current backend
//   keys.then("abc\r").then_key(kKeyF9);    // two waits: text, then F9
//   ... run the code under test ...
//   EXPECT_TRUE(keys.done());
//
// Besides the batches it offers two narrower moments to type (only when
// the program sleeps, only when a poll finds nothing), hooks for tests that
// decide themselves when input arrives (on_sleep, on_key_taken,
// on_empty_poll), a log of every screen the program waited on
// (keep_screens, saw), and an ESC for a program that still polls once
// every batch is typed (escape_when_idle).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "screen/backend.h"
#include "screen/headless.h"

class ScriptedKeys final : public ScreenBackend {
 public:
  // One batch: a list of actions that push events onto the headless queue.
  using Batch = std::vector<std::function<void()>>;

  // Wraps the backend in use (if there is one yet) and puts itself in its
  // place; the destructor puts the wrapped one back.
  ScriptedKeys();
  ~ScriptedKeys() override;
  ScriptedKeys(const ScriptedKeys&) = delete;
  ScriptedKeys& operator=(const ScriptedKeys&) = delete;
  // Puts itself in place again, wrapping the backend in use now
  // (headless_start() installs its own backend).
  void install();
  // Puts the wrapped backend back; nothing more is typed.
  void stop();

  // Next batch: characters as keys ('\r' Enter, '\x1b' ESC, other bytes as
  // DOS key codes).
  ScriptedKeys& then(std::string text);
  // Next batch: one DOS key code (screen/keys.h).
  ScriptedKeys& then_key(unsigned char code);
  // Next batch: several DOS key codes typed together.
  ScriptedKeys& then_keys(std::vector<unsigned char> codes);
  // Next batch: a left click on a cell.
  ScriptedKeys& then_click(int row, int col);
  // Runs `f` (for example a check of the screen) when the program next
  // waits, then goes on with the following batch at the same wait.
  ScriptedKeys& at_wait(std::function<void()> f);

  bool done() const { return batches_.empty(); }
  std::size_t left() const { return batches_.size(); }

  // Types each of `batches` only when the program sleeps (its cursor
  // blinks) with nothing queued, so that no poll for ESC and no question's
  // flush of waiting keys takes them; a wait on an empty queue gets ESC.
  void type_at_sleeps(std::vector<std::string> batches);
  // Types each of `batches` only when the program polls for a key and finds
  // none, never ahead, and keeps row 0 of every such poll (asked()).
  void type_at_empty_polls(std::vector<std::string> batches);
  // How many of those batches have been typed so far.
  std::size_t typed() const { return next_; }
  // Row 0 at one of those polls was `question`: the program asked it.
  bool asked(const std::string& question) const;

  // Keeps every screen the program waited on; `trace_env`: when that
  // environment variable is set, the screens go to standard error at the end.
  ScriptedKeys& keep_screens(const char* trace_env = nullptr);
  // True when `text` was on a kept screen or is on the screen now.
  bool saw(const std::string& text) const;
  // Once every batch is typed, a program that keeps polling (20 sleeps with
  // nothing queued) gets ESC, as often as it takes; a dialogue that does not
  // come back after 200 is a fault and ends the test program.
  ScriptedKeys& escape_when_idle();

  // Hooks: after each sleep; when the code next touches the screen after
  // taking a key press it did not put back (so the hook sees the screen the
  // key was pressed on); once when a poll first finds nothing (a hook that
  // wants every empty poll sets itself again).
  std::function<void()> on_sleep;
  std::function<void()> on_key_taken;
  std::function<void()> on_empty_poll;
  // Runs on_key_taken now for a key taken since the last screen change.
  void settle() { fire_taken(); }
  // Forgets a key taken before the hook was set.
  void forget_taken() { key_taken_ = false; }

  // ---- ScreenBackend ----
  void draw_text(int x, int y_top, int baseline, const char* s, int n, unsigned long fg,
                 unsigned long bg) override;
  void clear_window() override;
  bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) override;
  void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) override;
  void draw_points(const Point* pts, int n, unsigned long pixel) override;
  void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) override;
  void flush() override;
  bool next_event(unsigned mask, bool wait, ScreenEvent& ev) override;
  bool pending(unsigned mask) override;
  void put_back(const ScreenEvent& ev) override;
  bool lookup_colour(const char* name, Rgb16& rgb) override;
  bool alloc_colour(Rgb16& rgb, unsigned long& pixel) override;
  bool parse_colour(const char* colour, Rgb16& rgb) override;
  unsigned long white_pixel() override;
  unsigned long black_pixel() override;
  void move_resize(int x, int y, int w, int h) override;
  void sleep_us(long us) override;
  void close() override;

 private:
  // The program waits: keep its screen, push the next batch when nothing
  // is queued.  A batch whose last action is null (at_wait) lets the
  // following batch go at once.
  void release();
  void fire_taken();

  enum class Typing { kNone, kAtSleeps, kAtEmptyPolls };
  // Types the next of typing_ when nothing is queued.
  void type_next();

  ScreenBackend* inner_;
  std::deque<Batch> batches_;
  Typing typing_mode_ = Typing::kNone;
  std::vector<std::string> typing_;
  std::size_t next_ = 0;
  std::vector<std::string> tops_;
  bool key_taken_ = false;
  bool keep_ = false;
  const char* trace_env_ = nullptr;
  std::string log_, last_;
  bool escape_ = false;
  int idle_ = 0, escapes_ = 0;
};
