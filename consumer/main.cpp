// Uses the installed base library the way an outside program would.
#include <base/buffers.h>
#include <base/exception.h>
#include <base/strkey.h>

#include <cstdio>

int main() {
    _guardchar<char> text("installed");
    _typebuf<unsigned char> bytes(4);
    cStringKey a("alpha", -1), b("beta", -1);
    try {
        bytes[4] = 0;
        std::puts("qor-consumer: index check did not fire");
        return 1;
    } catch (const cException& e) {
        std::printf("qor-consumer: %s, caught \"%s\", key order %s\n", text.c_str(), e.what(),
                    a < b ? "right" : "wrong");
        return a < b ? 0 : 1;
    }
}
