#include "clock/period_clock.h"
