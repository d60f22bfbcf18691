#include "pakvane/sysregister.h"

bool OSRegisterPackage(char*, cSoftPkgScenario&, bool) { return true; }

bool OSDeregisterPackage(char*, bool) { return true; }

bool OSGetRegistedVersion(char*, int (&version)[4], _guardchar<char>* first, _guardchar<char>*, bool) {
    for (int& part : version) part = 0;
    if (first) first->set("");
    return true;
}
