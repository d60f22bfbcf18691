// Records of installed packages in an operating-system package registry.
// macOS keeps none: the manager's own per-user registry is the only record,
// so these hooks succeed without doing anything.
#pragma once

#include "base/buffers.h"
#include "pakvane/scenario.h"

// True; nothing is recorded.
bool OSRegisterPackage(char* codename, cSoftPkgScenario& scenario, bool systemWide);
// True; nothing is removed.
bool OSDeregisterPackage(char* codename, bool systemWide);
// True; version becomes 0.0.0.0, first (when given) becomes empty, second
// is left as it is.
bool OSGetRegistedVersion(char* codename, int (&version)[4], _guardchar<char>* first, _guardchar<char>* second,
                          bool systemWide);
