// Start and data directories, the setup file shared with the charting
// program, and the pixel geometry the menus derive from the screen.
#pragma once

extern char startdisk;
extern char startsubdir[4096];     // start directory (product files)
extern char datadisk;
extern char datasubdir[25];      // data directory (charts)
extern char origdatadisk;
extern char origdatasubdir[25];
extern char holidayFnam[4112];
extern char gmode, tmode;        // graphics and text mode codes ('P')
extern unsigned char color[8];   // colour list; color[0] for menus and questions

// Pop-up and mouse geometry in pixels (presetfuncs).
extern int HPX, VPX, BTOP, BBOT, BLF, BRT, WIDTHOSC;
