// Keys that a test types "when the program waits": the in-memory screen
// gets the next batch of keys only once the code under test blocks for
// input, or sleeps (the blinking cursor of the line editor), with nothing
// queued.  Questions that first throw away waiting keys therefore see their
// answer, and each prompt gets exactly the keys meant for it.
//
//   ScriptedKeys keys;                      // wraps the headless backend
//   keys.then("abc\r").then_key(218);       // two waits: text, then F9
//   ... run the code under test ...
//   EXPECT_TRUE(keys.done());
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

  ScriptedKeys() : inner_(screen_backend()) { screen_set_backend(this); }
  ~ScriptedKeys() override { screen_set_backend(inner_); }
  ScriptedKeys(const ScriptedKeys&) = delete;
  ScriptedKeys& operator=(const ScriptedKeys&) = delete;

  // Next batch: characters as keys ('\r' Enter, '\x1b' ESC).
  ScriptedKeys& then(std::string text) {
    batches_.push_back({[text] { headless_push_keys(text); }});
    return *this;
  }
  // Next batch: one DOS key code (F1 210 ... F10 219, arrows 28-31).
  ScriptedKeys& then_key(unsigned char code) {
    batches_.push_back({[code] { headless_push_key(code); }});
    return *this;
  }
  // Next batch: several DOS key codes typed together.
  ScriptedKeys& then_keys(std::vector<unsigned char> codes) {
    batches_.push_back({[codes] {
      for (unsigned char c : codes) headless_push_key(c);
    }});
    return *this;
  }
  // Next batch: a left click on a cell.
  ScriptedKeys& then_click(int row, int col) {
    batches_.push_back({[row, col] { headless_push_click(row, col); }});
    return *this;
  }
  // Runs `f` (for example a check of the screen) when the program next
  // waits, then goes on with the following batch at the same wait.
  ScriptedKeys& at_wait(std::function<void()> f) {
    batches_.push_back({[f] { f(); }, nullptr});
    return *this;
  }

  bool done() const { return batches_.empty(); }
  std::size_t left() const { return batches_.size(); }

  // ---- ScreenBackend ----
  void draw_text(int x, int y_top, int baseline, const char* s, int n, unsigned long fg,
                 unsigned long bg) override {
    inner_->draw_text(x, y_top, baseline, s, n, fg, bg);
  }
  void clear_window() override { inner_->clear_window(); }
  bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) override {
    return inner_->read_pixels(x, y, w, h, out);
  }
  void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) override {
    inner_->write_pixels(x, y, w, h, px);
  }
  void draw_points(const Point* pts, int n, unsigned long pixel) override {
    inner_->draw_points(pts, n, pixel);
  }
  void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) override {
    inner_->draw_line(x1, y1, x2, y2, pixel);
  }
  void flush() override { inner_->flush(); }
  bool next_event(unsigned mask, bool wait, ScreenEvent& ev) override {
    if (wait) release();
    return inner_->next_event(mask, wait, ev);
  }
  bool pending(unsigned mask) override { return inner_->pending(mask); }
  void put_back(const ScreenEvent& ev) override { inner_->put_back(ev); }
  bool lookup_colour(const char* name, Rgb16& rgb) override {
    return inner_->lookup_colour(name, rgb);
  }
  bool alloc_colour(Rgb16& rgb, unsigned long& pixel) override {
    return inner_->alloc_colour(rgb, pixel);
  }
  bool parse_colour(const char* spec, Rgb16& rgb) override {
    return inner_->parse_colour(spec, rgb);
  }
  unsigned long white_pixel() override { return inner_->white_pixel(); }
  unsigned long black_pixel() override { return inner_->black_pixel(); }
  void move_resize(int x, int y, int w, int h) override { inner_->move_resize(x, y, w, h); }
  void sleep_us(long us) override {
    inner_->sleep_us(us);
    release();
  }
  void close() override { inner_->close(); }

 private:
  // Pushes the next batch when nothing is queued.  A batch whose last
  // action is null (at_wait) lets the following batch go at once.
  void release() {
    while (!batches_.empty() && headless_queued() == 0) {
      Batch b = std::move(batches_.front());
      batches_.pop_front();
      bool chain = !b.empty() && !b.back();
      for (auto& f : b)
        if (f) f();
      if (!chain) break;
    }
  }

  ScreenBackend* inner_;
  std::deque<Batch> batches_;
};
