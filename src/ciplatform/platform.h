// The platform layer's process-wide font settings (cifonts/platform.h).
#pragma once

#include "cifonts/platform.h"
