// Shared set-up of the widget tests: the in-memory screen, the widget state
// reset, and the scripted screen whose hooks let input arrive "later" (after
// the code under test has slept or has taken a number of keys).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "support/scripted_keys.h"
#include "widgets/menu.h"

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
  void TearDown() override { hooked_.reset(); }
  // Wraps the headless backend for the rest of the test.
  ScriptedKeys& hook() {
    if (!hooked_)
      hooked_ = std::make_unique<ScriptedKeys>();
    else
      hooked_->install();  // headless_start() puts its own back
    return *hooked_;
  }
  // Text of `n` cells from (row, col) of the shadow text.
  static std::string cells(int row, int col, int n) { return headless_row(row).substr(col, n); }

 private:
  std::unique_ptr<ScriptedKeys> hooked_;
};
