// The program's banner: the window's title and icon name, and the title of
// the main menu and of the messages shown before it.
#pragma once

inline constexpr const char* kBanner = "MORVA File Converter V5.37";
