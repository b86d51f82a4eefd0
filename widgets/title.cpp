#include "widgets/title.h"

const char* title = "";
