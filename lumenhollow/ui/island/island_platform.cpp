#include "lumenhollow/ui/island/island_platform.h"

// The interfaces' signals are generated with this file.
