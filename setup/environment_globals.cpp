#include "setup/environment.h"

char startdisk = 0;
char startsubdir[4096] = "";
char datadisk = 0;
char datasubdir[25] = "";
char origdatadisk = 0;
char origdatasubdir[25] = "";
char holidayFnam[4112] = "";
char gmode = 'P', tmode = 'P';
unsigned char color[8] = {7, 3, 14, 10, 12, 14, 10, 9};
int HPX = 0, VPX = 0, BTOP = 0, BBOT = 0, BLF = 0, BRT = 0, WIDTHOSC = 0;
