#include "watch/watcher.h"
