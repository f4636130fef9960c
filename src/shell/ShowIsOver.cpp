#include "shell/ShowIsOver.h"

bool g_showIsOver = false;
