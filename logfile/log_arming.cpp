#include "logfile/log_arming.h"
