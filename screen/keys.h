// The DOS key codes that the screen library's key readers return (one
// unsigned byte each).  Printable keys give their Latin-1 character; the
// keys below give these codes.  Every layer names them from here.
#pragma once

inline constexpr int kKeyBackspace = 8;
inline constexpr int kKeyTab = 9;
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyEsc = 27;
inline constexpr int kKeyRight = 28;
inline constexpr int kKeyLeft = 29;
inline constexpr int kKeyUp = 30;
inline constexpr int kKeyDown = 31;
inline constexpr int kKeyF11 = 200;
inline constexpr int kKeyF12 = 201;
inline constexpr int kKeyPgUp = 202;
inline constexpr int kKeyPgDn = 203;
inline constexpr int kKeyHome = 204;
inline constexpr int kKeyEnd = 205;
inline constexpr int kKeyIns = 206;
inline constexpr int kKeyDel = 207;
// F1..F10; with Control held 190..199, with Alt held 180..189.
inline constexpr int kKeyF1 = 210;
inline constexpr int kKeyF2 = 211;
inline constexpr int kKeyF3 = 212;
inline constexpr int kKeyF4 = 213;
inline constexpr int kKeyF5 = 214;
inline constexpr int kKeyF6 = 215;
inline constexpr int kKeyF7 = 216;
inline constexpr int kKeyF8 = 217;
inline constexpr int kKeyF9 = 218;
inline constexpr int kKeyF10 = 219;
inline constexpr int kKeyCtrlF1 = 190;
inline constexpr int kKeyAltF1 = 180;
// Alt+letter, for the letters that have an Alt code: 230 for 'a' on.
inline constexpr int kKeyAltA = 230;
constexpr int alt_key(char letter) { return kKeyAltA + (letter - 'a'); }
// Mouse: a left click on an active screen area that is not a pop-up list,
// and a click of any other button.
inline constexpr int kKeyClick = 255;
inline constexpr int kKeyOtherClick = 47;
