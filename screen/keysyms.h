// The key symbols the screen library decodes.  The values are those of the
// X protocol; they are repeated here so that the library above the backend
// compiles without X11 headers.
#pragma once

namespace keysym {
constexpr unsigned BackSpace = 0xff08, Tab = 0xff09, Return = 0xff0d, Escape = 0xff1b;
constexpr unsigned Home = 0xff50, Left = 0xff51, Up = 0xff52, Right = 0xff53, Down = 0xff54;
constexpr unsigned Prior = 0xff55, Next = 0xff56, End = 0xff57;
constexpr unsigned Insert = 0xff63, Delete = 0xffff;
constexpr unsigned KP_Enter = 0xff8d, KP_Add = 0xffab, KP_Subtract = 0xffad;
constexpr unsigned KP_Home = 0xff95, KP_Left = 0xff96, KP_Up = 0xff97, KP_Right = 0xff98,
                   KP_Down = 0xff99, KP_Prior = 0xff9a, KP_Next = 0xff9b, KP_End = 0xff9c,
                   KP_Begin = 0xff9d, KP_Insert = 0xff9e, KP_Delete = 0xff9f;
constexpr unsigned KP_0 = 0xffb0, KP_Decimal = 0xffae;
constexpr unsigned F1 = 0xffbe, F10 = 0xffc7, F11 = 0xffc8, F12 = 0xffc9;
constexpr unsigned Shift_L = 0xffe1, Shift_R = 0xffe2, Control_L = 0xffe3, Control_R = 0xffe4;
constexpr unsigned Caps_Lock = 0xffe5, Shift_Lock = 0xffe6, Meta_L = 0xffe7, Meta_R = 0xffe8;
constexpr unsigned Alt_L = 0xffe9, Alt_R = 0xffea, Super_L = 0xffeb, Super_R = 0xffec;
constexpr unsigned Hyper_L = 0xffed, Hyper_R = 0xffee;
constexpr unsigned Num_Lock = 0xff7f, Mode_switch = 0xff7e, ISO_Level3_Shift = 0xfe03;
}  // namespace keysym
