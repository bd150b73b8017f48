#include "render/display_mode.h"

RequestedDisplayMode g_requestedDisplayMode;
