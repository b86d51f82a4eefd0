// Shared set-up of the widget tests: the in-memory screen, the widget state
// reset, and a backend wrapper that lets input arrive "later" (after the
// code under test has slept or has taken a number of keys).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/menu.h"

// Forwards everything to the headless backend; runs `on_sleep` when the
// code under test sleeps, `on_key_taken` after each key press it consumes
// (before it draws anything more) and `on_empty_poll` once when a poll
// first finds nothing.
class HookedBackend final : public ScreenBackend {
 public:
  explicit HookedBackend(ScreenBackend* inner) : inner_(inner) {}
  std::function<void()> on_sleep;
  std::function<void()> on_key_taken;
  // Runs once, the first time a poll finds no event of its kind.
  std::function<void()> on_empty_poll;

  void draw_text(int x, int y_top, int baseline, const char* s, int n, unsigned long fg,
                 unsigned long bg) override {
    fire_taken();
    inner_->draw_text(x, y_top, baseline, s, n, fg, bg);
  }
  void clear_window() override {
    fire_taken();
    inner_->clear_window();
  }
  bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) override {
    return inner_->read_pixels(x, y, w, h, out);
  }
  void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) override {
    fire_taken();
    inner_->write_pixels(x, y, w, h, px);
  }
  void draw_points(const Point* pts, int n, unsigned long pixel) override {
    fire_taken();
    inner_->draw_points(pts, n, pixel);
  }
  void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) override {
    fire_taken();
    inner_->draw_line(x1, y1, x2, y2, pixel);
  }
  void flush() override { inner_->flush(); }
  bool next_event(unsigned mask, bool wait, ScreenEvent& ev) override {
    fire_taken();
    bool got = inner_->next_event(mask, wait, ev);
    if (!got && !wait && on_empty_poll) {
      auto f = std::move(on_empty_poll);
      on_empty_poll = nullptr;
      f();
    }
    if (got && ev.kind == EV_KEYPRESS) key_taken_ = true;
    return got;
  }
  bool pending(unsigned mask) override {
    fire_taken();
    return inner_->pending(mask);
  }
  // A key put back (a peek) was not taken.
  void put_back(const ScreenEvent& ev) override {
    if (ev.kind == EV_KEYPRESS) key_taken_ = false;
    inner_->put_back(ev);
  }
  bool lookup_colour(const char* name, Rgb16& rgb) override { return inner_->lookup_colour(name, rgb); }
  bool alloc_colour(Rgb16& rgb, unsigned long& pixel) override { return inner_->alloc_colour(rgb, pixel); }
  bool parse_colour(const char* spec, Rgb16& rgb) override { return inner_->parse_colour(spec, rgb); }
  unsigned long white_pixel() override { return inner_->white_pixel(); }
  unsigned long black_pixel() override { return inner_->black_pixel(); }
  void move_resize(int x, int y, int w, int h) override { inner_->move_resize(x, y, w, h); }
  void sleep_us(long us) override {
    inner_->sleep_us(us);
    if (on_sleep) on_sleep();
  }
  void close() override { inner_->close(); }

 public:
  // Runs on_key_taken now for a key taken since the last screen change.
  void settle() { fire_taken(); }
  // Forgets a key taken before the hook was set.
  void forget_taken() { key_taken_ = false; }

 private:
  // on_key_taken runs when the code next touches the screen after taking a
  // key press it did not put back, so the hook sees the screen the key was
  // pressed on.
  void fire_taken() {
    if (key_taken_) {
      key_taken_ = false;
      if (on_key_taken) on_key_taken();
    }
  }
  ScreenBackend* inner_;
  bool key_taken_ = false;
};

class WidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    color[0] = 7;
    popline = 0;
    voffset = 0;
    windowfunc_isactive = nullptr;
    for (int i = 0; i <= 6; ++i) unset_scr_area(i);
    mouse_set_motionfunction(nullptr);
    colour(color[0]);
    scr_clr();  // the background in the menu colour's dark shade
  }
  void TearDown() override {
    if (hooked_) screen_set_backend(inner_);
  }
  // Wraps the headless backend for the rest of the test.
  HookedBackend& hook() {
    if (!hooked_) {
      inner_ = screen_backend();
      hooked_ = std::make_unique<HookedBackend>(inner_);
    }
    screen_set_backend(hooked_.get());  // headless_start() puts its own back
    return *hooked_;
  }
  // Text of `n` cells from (row, col) of the shadow text.
  static std::string cells(int row, int col, int n) { return headless_row(row).substr(col, n); }

 private:
  ScreenBackend* inner_ = nullptr;
  std::unique_ptr<HookedBackend> hooked_;
};
