#include "watch/decode_line.h"
