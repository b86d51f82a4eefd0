#include "chartdata/globals.h"

char typechart[2] = {'?', '\n'};
std::int32_t longsdate = 0;
std::int32_t longedate = 0;
BarRecord bb;
char exclambuf[80] = "";
