#include "support/scripted_keys.h"

#include <cstdio>
#include <cstdlib>

#include "screen/keys.h"

ScriptedKeys::ScriptedKeys() : inner_(screen_backend()) {
  if (inner_) screen_set_backend(this);
}

ScriptedKeys::~ScriptedKeys() {
  stop();
  if (trace_env_ && std::getenv(trace_env_)) std::fprintf(stderr, "%s\n", log_.c_str());
}

void ScriptedKeys::install() {
  if (screen_backend() == this) return;
  inner_ = screen_backend();
  screen_set_backend(this);
}

void ScriptedKeys::stop() {
  typing_mode_ = Typing::kNone;
  if (screen_backend() == this) screen_set_backend(inner_);
}

void ScriptedKeys::type_at_sleeps(std::vector<std::string> batches) {
  typing_ = std::move(batches);
  next_ = 0;
  typing_mode_ = Typing::kAtSleeps;
  install();
}

void ScriptedKeys::type_at_empty_polls(std::vector<std::string> batches) {
  typing_ = std::move(batches);
  next_ = 0;
  typing_mode_ = Typing::kAtEmptyPolls;
  install();
}

void ScriptedKeys::type_next() {
  if (headless_queued() == 0 && next_ < typing_.size()) headless_push_keys(typing_[next_++]);
}

bool ScriptedKeys::asked(const std::string& question) const {
  const std::string row = question + std::string(79 - question.size(), ' ');
  for (const std::string& t : tops_)
    if (t.substr(0, 79) == row) return true;
  return false;
}

ScriptedKeys& ScriptedKeys::then(std::string text) {
  batches_.push_back({[text] { headless_push_keys(text); }});
  return *this;
}

ScriptedKeys& ScriptedKeys::then_key(unsigned char code) {
  batches_.push_back({[code] { headless_push_key(code); }});
  return *this;
}

ScriptedKeys& ScriptedKeys::then_keys(std::vector<unsigned char> codes) {
  batches_.push_back({[codes] {
    for (unsigned char c : codes) headless_push_key(c);
  }});
  return *this;
}

ScriptedKeys& ScriptedKeys::then_click(int row, int col) {
  batches_.push_back({[row, col] { headless_push_click(row, col); }});
  return *this;
}

ScriptedKeys& ScriptedKeys::at_wait(std::function<void()> f) {
  batches_.push_back({[f] { f(); }, nullptr});
  return *this;
}

ScriptedKeys& ScriptedKeys::keep_screens(const char* trace_env) {
  keep_ = true;
  trace_env_ = trace_env;
  return *this;
}

bool ScriptedKeys::saw(const std::string& text) const {
  return log_.find(text) != std::string::npos || headless_screen().find(text) != std::string::npos;
}

ScriptedKeys& ScriptedKeys::escape_when_idle() {
  escape_ = true;
  return *this;
}

void ScriptedKeys::release() {
  if (headless_queued() != 0) return;
  if (keep_) {
    std::string now = headless_screen();
    if (now != last_) {
      log_ += now;
      last_ = std::move(now);
    }
  }
  while (!batches_.empty() && headless_queued() == 0) {
    Batch b = std::move(batches_.front());
    batches_.pop_front();
    const bool chain = !b.empty() && !b.back();
    for (auto& f : b)
      if (f) f();
    if (!chain) break;
  }
}

void ScriptedKeys::fire_taken() {
  if (key_taken_) {
    key_taken_ = false;
    if (on_key_taken) on_key_taken();
  }
}

void ScriptedKeys::draw_text(int x, int y_top, int baseline, const char* s, int n,
                             unsigned long fg, unsigned long bg) {
  fire_taken();
  inner_->draw_text(x, y_top, baseline, s, n, fg, bg);
}

void ScriptedKeys::clear_window() {
  fire_taken();
  inner_->clear_window();
}

bool ScriptedKeys::read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) {
  return inner_->read_pixels(x, y, w, h, out);
}

void ScriptedKeys::write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) {
  fire_taken();
  inner_->write_pixels(x, y, w, h, px);
}

void ScriptedKeys::draw_points(const Point* pts, int n, unsigned long pixel) {
  fire_taken();
  inner_->draw_points(pts, n, pixel);
}

void ScriptedKeys::draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) {
  fire_taken();
  inner_->draw_line(x1, y1, x2, y2, pixel);
}

void ScriptedKeys::flush() { inner_->flush(); }

bool ScriptedKeys::next_event(unsigned mask, bool wait, ScreenEvent& ev) {
  fire_taken();
  if (wait) release();
  const bool got = inner_->next_event(mask, wait, ev);
  if (!got && !wait && typing_mode_ == Typing::kAtEmptyPolls) {
    tops_.push_back(headless_row(0));
    type_next();
  }
  if (!got && !wait && on_empty_poll) {
    auto f = std::move(on_empty_poll);
    on_empty_poll = nullptr;
    f();
  }
  if (got && ev.kind == EV_KEYPRESS) key_taken_ = true;
  return got;
}

bool ScriptedKeys::pending(unsigned mask) {
  fire_taken();
  return inner_->pending(mask);
}

// A key put back (a peek) was not taken.
void ScriptedKeys::put_back(const ScreenEvent& ev) {
  if (ev.kind == EV_KEYPRESS) key_taken_ = false;
  inner_->put_back(ev);
}

bool ScriptedKeys::lookup_colour(const char* name, Rgb16& rgb) {
  return inner_->lookup_colour(name, rgb);
}
bool ScriptedKeys::alloc_colour(Rgb16& rgb, unsigned long& pixel) {
  return inner_->alloc_colour(rgb, pixel);
}
bool ScriptedKeys::parse_colour(const char* colour, Rgb16& rgb) {
  return inner_->parse_colour(colour, rgb);
}
unsigned long ScriptedKeys::white_pixel() { return inner_->white_pixel(); }
unsigned long ScriptedKeys::black_pixel() { return inner_->black_pixel(); }
void ScriptedKeys::move_resize(int x, int y, int w, int h) { inner_->move_resize(x, y, w, h); }

void ScriptedKeys::sleep_us(long us) {
  inner_->sleep_us(us);
  release();
  if (escape_ && headless_queued() == 0 && batches_.empty() && ++idle_ >= 20) {
    idle_ = 0;
    if (++escapes_ > 200) {
      std::fprintf(stderr, "the dialogue does not come back after 200 ESC presses\n");
      std::abort();
    }
    headless_push_key(kKeyEsc);
  }
  if (typing_mode_ == Typing::kAtSleeps) type_next();
  if (on_sleep) on_sleep();
}

void ScriptedKeys::close() { inner_->close(); }
