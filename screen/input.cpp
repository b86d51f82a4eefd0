// Keyboard, mouse, screen areas and timing.  Window events become DOS key
// codes here, decoded by key symbol so that every keycode set of the
// server gives the same codes for the same keys.
#include <sys/select.h>

#include <cstddef>

#include "screen/backend.h"
#include "screen/keys.h"
#include "screen/keysyms.h"
#include "screen/screen.h"

int mousepresent = 0;

namespace {

struct KeyPair {
  unsigned keysym;
  short code;
};

// Keys with their own code, by unshifted key symbol.
constexpr KeyPair keytable[] = {
    {keysym::Escape, kKeyEsc},   {keysym::BackSpace, kKeyBackspace}, {keysym::Return, kKeyEnter},
    {keysym::Right, kKeyRight},  {keysym::Left, kKeyLeft},   {keysym::Up, kKeyUp},
    {keysym::Down, kKeyDown},    {keysym::KP_Subtract, '-'}, {keysym::KP_Add, '+'},
    {keysym::Prior, kKeyPgUp},   {keysym::Next, kKeyPgDn},   {keysym::Home, kKeyHome},
    {keysym::End, kKeyEnd},      {keysym::Insert, kKeyIns},
    {keysym::Delete, kKeyDel},   {keysym::KP_Enter, kKeyEnter}, {keysym::F1 + 0, kKeyF1},
    {keysym::F1 + 1, kKeyF2},    {keysym::F1 + 2, kKeyF3},   {keysym::F1 + 3, kKeyF4},
    {keysym::F1 + 4, kKeyF5},    {keysym::F1 + 5, kKeyF6},   {keysym::F1 + 6, kKeyF7},
    {keysym::F1 + 7, kKeyF8},    {keysym::F1 + 8, kKeyF9},   {keysym::F1 + 9, kKeyF10},
};

// Alt+letter: 229 plus the letter's place in the alphabet, for these letters.
constexpr KeyPair alpha[] = {
    {'a', alt_key('a')},  {'b', alt_key('b')},  {'c', alt_key('c')},
    {'d', alt_key('d')},  {'e', alt_key('e')},  {'f', alt_key('f')},
    {'g', alt_key('g')},  {'h', alt_key('h')},  {'r', alt_key('r')},
    {'s', alt_key('s')}, {'u', alt_key('u')}, {'x', alt_key('x')},
};

short leftshift, rightshift, leftctrl, rightctrl, leftalt, rightalt, capslock, numlock;

// Modifier keys: a press sets the flag, the release clears it.  Keys that
// only shift other keys (Super, AltGr) have no flag but give no code either.
struct ModifierKey {
  unsigned keysym;
  short* flag;
};
const ModifierKey modifier_keys[] = {
    {keysym::Control_L, &leftctrl},  {keysym::Control_R, &rightctrl},
    {keysym::Shift_L, &leftshift},   {keysym::Shift_R, &rightshift},
    {keysym::Alt_L, &leftalt},       {keysym::Alt_R, &rightalt},
    {keysym::Meta_L, &leftalt},      {keysym::Meta_R, &rightalt},
    {keysym::Caps_Lock, &capslock},  {keysym::Num_Lock, &numlock},
    {keysym::ISO_Level3_Shift, nullptr}, {keysym::Mode_switch, nullptr},
    {keysym::Shift_Lock, nullptr},   {keysym::Super_L, nullptr},
    {keysym::Super_R, nullptr},      {keysym::Hyper_L, nullptr},
    {keysym::Hyper_R, nullptr},
};

const ModifierKey* find_modifier(unsigned ks) {
  for (const auto& m : modifier_keys)
    if (m.keysym == ks) return &m;
  return nullptr;
}

bool ctrl_held() { return leftctrl || rightctrl; }
bool alt_held() { return leftalt || rightalt; }

template <std::size_t N>
const KeyPair* find_key(const KeyPair (&table)[N], unsigned ks) {
  for (const auto& p : table)
    if (p.keysym == ks) return &p;
  return nullptr;
}

unsigned char decode_key(const ScreenEvent& ev) {
  int code = 0;
  if (pcio_lookup(static_cast<int>(ev.keysym), &code)) return static_cast<unsigned char>(code);
  // The keypad's Home and End (Num Lock off) are Home and End.
  if (ev.lookup_keysym == keysym::KP_Home) return kKeyHome;
  if (ev.lookup_keysym == keysym::KP_End) return kKeyEnd;
  const unsigned char byte = static_cast<unsigned char>(ev.lookup_keysym & 0xff);
  if (ctrl_held()) {
    if (byte >= 'a' && byte <= 'z') return static_cast<unsigned char>(byte - 'a' + 1);
    if (ev.lookup_keysym >= 'A' && ev.lookup_keysym <= 'Z')
      return static_cast<unsigned char>(ev.lookup_keysym - 'A' + 1);
  }
  return byte;
}

MotionFunction mouse_motionfunction = nullptr;
int buttonispressed = 0;
int doonce = 0;
int last_mouse_x = 0, last_mouse_y = 0;

struct Area {
  int active;
  unsigned top, bottom, left, right;
};
Area area[7];

enum class Read { Wait, Poll, Peek };

ScreenBackend* backend() { return screen_backend(); }

// The key readers' event loop.
unsigned char read_key(Read how) {
  ScreenBackend* b = backend();
  if (!b) return how == Read::Wait ? kKeyEsc : 0;
  ScreenEvent ev;
  for (;;) {
    screen_service_errors();
    if (how == Read::Wait) {
      if (!b->pending(KEY_READ_MASK)) screen_dump_shadow();
      if (!b->next_event(KEY_READ_MASK, true, ev)) return kKeyEsc;
    } else if (!b->next_event(KEY_READ_MASK, false, ev)) {
      // A poll that finds nothing is where the line editor and the long
      // passes wait, so the screen is published here too.
      screen_dump_shadow();
      return 0;
    }
    switch (ev.kind) {
      case EV_KEYPRESS:
        if (const ModifierKey* m = find_modifier(ev.keysym)) {
          if (m->flag) *m->flag = 1;
          continue;
        }
        if (how == Read::Peek) b->put_back(ev);
        return decode_key(ev);
      case EV_KEYRELEASE:
        if (const ModifierKey* m = find_modifier(ev.keysym))
          if (m->flag) *m->flag = 0;
        continue;
      case EV_MOTION:
        if (mouse_motionfunction) {
          ScreenEvent newer;
          while (b->next_event(EV_MOTION, false, newer)) ev = newer;
          last_mouse_x = ev.x;
          last_mouse_y = ev.y;
          if (const int r = mouse_motionfunction(ev.y, ev.x)) return static_cast<unsigned char>(r & 0xff);
        }
        continue;
      case EV_RESIZE:
        resize_settings();
        continue;
      default:
        continue;
    }
  }
}

}  // namespace

// ---- Keys ------------------------------------------------------------------

unsigned char scr_ci() { return read_key(Read::Wait); }
unsigned char scr_csts() { return read_key(Read::Poll); }
unsigned char scr_cst() { return read_key(Read::Peek); }

int pcio_lookup(int keycode, int* code) {
  const unsigned ks = static_cast<unsigned>(keycode);
  if (const KeyPair* k = find_key(keytable, ks)) {
    int c = k->code;
    if (c >= kKeyF1 && c <= kKeyF10) {
      if (ctrl_held())
        c += kKeyCtrlF1 - kKeyF1;
      else if (alt_held())
        c += kKeyAltF1 - kKeyF1;
    }
    if (code) *code = c;
    return 1;
  }
  if (alt_held()) {
    unsigned lower = ks;
    if (lower >= 'A' && lower <= 'Z') lower += 'a' - 'A';
    if (const KeyPair* k = find_key(alpha, lower)) {
      if (code) *code = k->code;
      return 1;
    }
  }
  return 0;
}

short getshift(int mask) { return mask == 0x20 ? numlock : 0; }

int chkbreak() { return 0; }

// ---- Mouse -------------------------------------------------------------------

int mousereset() {
  mousepresent = 1;
  return 1;
}
void mouse_show(int) {}
void mouse_area(int, int, int, int) {}
void mouse_cursor(int, int) {}

int check_button_event(char wait, int* y, int* x) {
  if (y) *y = last_mouse_y;
  if (x) *x = last_mouse_x;
  ScreenBackend* b = backend();
  if (!b) return 0;
  screen_service_errors();
  ScreenEvent ev;
  // Debounce a button still held: wait, then drop the presses queued
  // meanwhile.  Once its release is queued the button is up and a press
  // after it is a new click, so nothing is dropped.
  if (doonce && buttonispressed && b->pending(EV_BUTTONRELEASE)) {
    doonce = 0;
  } else if (doonce && buttonispressed) {
    timedely(7);
    doonce = 0;
    while (b->next_event(EV_BUTTONPRESS, false, ev)) {
    }
  }
  if (wait) {
    if (!b->pending(ALL_EVENTS_MASK)) screen_dump_shadow();
    if (!b->next_event(ALL_EVENTS_MASK, true, ev)) return buttonispressed;
  } else if (!b->next_event(ALL_EVENTS_MASK, false, ev)) {
    return buttonispressed;
  }
  switch (ev.kind) {
    case EV_BUTTONPRESS:
      last_mouse_y = ev.y;
      last_mouse_x = ev.x;
      if (y) *y = ev.y;
      if (x) *x = ev.x;
      doonce = 1;
      buttonispressed = ev.button;
      return buttonispressed;
    case EV_BUTTONRELEASE:
    case EV_EXPOSE:
      buttonispressed = 0;
      return 0;
    case EV_MOTION:
      if (buttonispressed == 1) {
        buttonispressed = 0;
        last_mouse_y = ev.y;
        last_mouse_x = ev.x;
        if (y) *y = ev.y;
        if (x) *x = ev.x;
        return 0;
      }
      [[fallthrough]];
    default:
      buttonispressed = 0;
      b->put_back(ev);
      return 0;
  }
}

int mouse_button_where(char wait, int* row, int* col) {
  int y = 0, x = 0;
  const int button = check_button_event(wait, &y, &x);
  // The cell size comes from the set-up; before that, from the mode.
  const unsigned hc = HPXC ? HPXC : static_cast<unsigned>(pixelspercol > 0 ? pixelspercol : 1);
  const unsigned vc = VPXC ? VPXC : static_cast<unsigned>(pixelsperrow > 0 ? pixelsperrow : 1);
  if (col) *col = static_cast<int>(static_cast<unsigned>(x) / hc);
  if (row) *row = static_cast<int>(static_cast<unsigned>(y) / vc);
  return button;
}

void set_scr_area(int idx, int top, int left, int bottom, int right) {
  if (idx < 0 || idx > 6) return;
  area[idx] = {1, static_cast<unsigned>(top), static_cast<unsigned>(bottom),
               static_cast<unsigned>(left), static_cast<unsigned>(right)};
}

void unset_scr_area(int idx) {
  if (idx < 0 || idx > 6) return;
  area[idx].active = 0;
}

int inside_scr_area(int idx, int row, int col) {
  auto inside = [&](const Area& a) {
    const unsigned r = static_cast<unsigned>(row), c = static_cast<unsigned>(col);
    return a.active && a.top <= r && r <= a.bottom && a.left <= c && c <= a.right;
  };
  if (idx == 99) {
    for (const auto& a : area)
      if (inside(a)) return 1;
    return 0;
  }
  if (idx < 0 || idx > 6) return 0;
  return inside(area[idx]) ? 1 : 0;
}

MotionFunction mouse_set_motionfunction(MotionFunction f) {
  mouse_motionfunction = f;
  return f;
}

namespace {

// One pass of the mouse-aware read: a left click on a pop-up area is
// Enter, on another active area 255; any other button is '/'.
unsigned char getc_pass(char wait) {
  int row = 0, col = 0;
  const int b = mouse_button_where(wait, &row, &col);
  if (b == 1) {
    for (int idx : {2, 5, 4, 3})
      if (inside_scr_area(idx, row, col)) return kKeyEnter;
    if (inside_scr_area(99, row, col)) return kKeyClick;
    return scr_csts();
  }
  if (b >= 2) return kKeyOtherClick;
  return scr_csts();
}

}  // namespace

unsigned char scr_getc(int mode) {
  if (mode == 0) {
    int row = 0, col = 0;
    if (mouse_button_where(0, &row, &col)) return kKeyEnter;
    return scr_cst();
  }
  if (mode == 1) {
    for (;;) {
      const unsigned char r = mousepresent ? getc_pass(1) : scr_ci();
      if (r) return r;
    }
  }
  return getc_pass(0);
}

// ---- Timing and sound -----------------------------------------------------------

void timedely(int ticks) {
  if (ticks <= 0) return;
  const long us = static_cast<long>(ticks / 18) * 1000000L + static_cast<long>(ticks % 18) * 54945L;
  if (ScreenBackend* b = backend()) {
    b->sleep_us(us);
    return;
  }
  timeval tv{ticks / 18, (ticks % 18) * 54945};
  select(0, nullptr, nullptr, nullptr, &tv);
}

void tone(int, int) {}
void toner(int, int) {}

// For tests: the modifier flags as the key readers see them.
int screen_modifier_flags() {
  return (leftshift ? 1 : 0) | (rightshift ? 2 : 0) | (leftctrl ? 4 : 0) | (rightctrl ? 8 : 0) |
         (leftalt ? 16 : 0) | (rightalt ? 32 : 0) | (capslock ? 64 : 0) | (numlock ? 128 : 0);
}

// Forgets held modifiers, the button state and the areas (tests start clean).
void screen_reset_input() {
  leftshift = rightshift = leftctrl = rightctrl = leftalt = rightalt = capslock = numlock = 0;
  buttonispressed = doonce = 0;
  last_mouse_x = last_mouse_y = 0;
  mouse_motionfunction = nullptr;
  for (auto& a : area) a = {};
}
