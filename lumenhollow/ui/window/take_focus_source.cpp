#include "lumenhollow/ui/window/take_focus_source.h"

// The interface's signal is generated with this file.
