#include "watch/decode_file.h"
