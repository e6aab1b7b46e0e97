#include "watch/last_line.h"
