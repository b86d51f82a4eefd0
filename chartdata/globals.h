// State shared by every command that stores bars into a chart.
#pragma once

#include "chartdata/bar.h"

extern char typechart[2];        // chart type letter and '\n' for a new header
extern std::int32_t longsdate;   // first date of the bars being stored
extern std::int32_t longedate;   // last date of the bars being stored
extern BarRecord bb;             // the bar being built
extern char exclambuf[80];       // name of the file now being processed
