#include "logfile/log_book.h"
