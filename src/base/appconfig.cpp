#include "base/appconfig.h"

#include "base/checked.h"
#include "base/strutil.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int digitValue(char c, int base) {
    int v = 36;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// The number a text store holds: blanks, an optional sign, decimal digits
// (or "0x" and hexadecimal digits), blanks, and nothing else.  A negative
// number comes back as its two's complement, so what "%d" and "%lld" wrote
// reads back to the same bits.  False for any other text and for a number
// that 64 bits cannot hold (down to -2^63, up to 2^64 - 1).  strToU64 is no
// help here: it stops quietly at trailing text, clamps decimal numbers at
// 2^63 - 1 and answers garbage with all ones, a value a store may hold.
bool parseStoredNumber(const char* s, unsigned long long& out) {
    if (!s) return false;
    while (__acp_isspace(*s)) ++s;
    bool negative = false;
    if (*s == '-' || *s == '+') negative = *s++ == '-';
    int base = 10;
    if (!negative && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    unsigned long long magnitude = 0;
    int digits = 0;
    for (int d; (d = digitValue(*s, base)) >= 0; ++s, ++digits) {
        if (!checked_mul(magnitude, static_cast<unsigned long long>(base), magnitude) ||
            !checked_add(magnitude, static_cast<unsigned long long>(d), magnitude))
            return false;
    }
    if (digits == 0) return false;
    while (__acp_isspace(*s)) ++s;
    if (*s) return false;
    if (negative) {
        if (magnitude > (1ULL << 63)) return false;
        magnitude = 0 - magnitude;
    }
    out = magnitude;
    return true;
}

// value's low `bytes` bytes, least significant first.
void littleEndian(unsigned long long value, unsigned char* out, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

// ---------------------------------------------------------------------------
// Defaults of the store's optional operations

cApplicationConfig::~cApplicationConfig() = default;

bool cApplicationConfig::getParamValue(void*, long long, void*) { return false; }
bool cApplicationConfig::setParamValue(void const*, long long, void*) { return false; }
bool cApplicationConfig::getParamValue(_guardchar<char>&, void*) { return false; }
bool cApplicationConfig::setParamValue(const char*, long long, void*) { return false; }
bool cApplicationConfig::newConfig(const char*) { return false; }
bool cApplicationConfig::saveConfig() { return false; }
bool cApplicationConfig::saveConfigAs(const char*) { return false; }
bool cApplicationConfig::discardChanges() { return false; }
bool cApplicationConfig::removeSection(char const*) { return false; }
bool cApplicationConfig::hasSection(char const*) { return false; }
bool cApplicationConfig::enumSubsections(char const*, bool (*)(char const*, void*), void*) { return false; }

// ---------------------------------------------------------------------------
// Paths

void* cApplicationConfig::getPathContextHandle(char const* path, bool create) {
    if (!path || !*path) return rootContextHandle();
    void* node = rootContextHandle();
    const std::string copy(path);
    std::size_t start = 0;
    for (;;) {
        if (!node) return nullptr;
        const std::size_t slash = copy.find('/', start);
        const std::string name = copy.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        node = subContextHandle(name.c_str(), node, create);
        if (slash == std::string::npos) return node;
        start = slash + 1;
    }
}

// ---------------------------------------------------------------------------
// Reading

bool cApplicationConfig::getParam(char const* path, _typebuf<unsigned char>& value) {
    value.set(0);
    void* node = getPathContextHandle(path, false);
    long long size = 0;
    if (!node || !getParamValueSize(node, size) || size < 0) return false;
    if (size == 0) return true;
    value.set(size);
    if (getParamValue(value.data(), size, node)) return true;
    value.set(0);
    return false;
}

bool cApplicationConfig::getParamInt(char const* path, unsigned long long& value) {
    void* node = getPathContextHandle(path, false);
    if (!node) return false;
    if (isTextConfig()) {
        _guardchar<char> text;
        unsigned long long v = 0;
        if (!getParamValue(text, node) || !parseStoredNumber(text.c_str(), v)) return false;
        value = v;
        return true;
    }
    long long size = 0;
    if (!getParamValueSize(node, size) || size < 1 || size > 8) return false;
    unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    if (!getParamValue(bytes, size, node)) return false;
    unsigned long long v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | bytes[i];
    value = v;
    return true;
}

bool cApplicationConfig::getParamStr(char const* path, _guardchar<char>& value) {
    void* node = getPathContextHandle(path, false);
    if (!node) return false;
    if (isTextConfig()) return getParamValue(value, node);
    long long size = 0;
    if (!getParamValueSize(node, size) || size < 0) return false;
    if (size == 0) {
        value.set("");
        return true;
    }
    _typebuf<char> bytes(size);
    if (!getParamValue(bytes.data(), size, node)) return false;
    value.set(bytes.data(), size);
    return true;
}

short cApplicationConfig::getParamInt16(char const* path) {
    unsigned long long v = 0;
    if (!getParamInt(path, v)) return 0;
    return static_cast<short>(static_cast<unsigned short>(v));
}

int cApplicationConfig::getParamInt32(char const* path) {
    unsigned long long v = 0;
    if (!getParamInt(path, v)) return 0;
    return static_cast<int>(static_cast<unsigned int>(v));
}

long long cApplicationConfig::getParamInt64(char const* path) {
    unsigned long long v = 0;
    if (!getParamInt(path, v)) return 0;
    return static_cast<long long>(v);
}

// ---------------------------------------------------------------------------
// Writing

bool cApplicationConfig::setParam(char const* path, void const* data, long long size) {
    if (isTextConfig() || size < 0 || (!data && size > 0)) return false;
    void* node = getPathContextHandle(path, true);
    if (!node) return false;
    return setParamValue(data, size, node);
}

namespace {

bool setInteger(cApplicationConfig& config, char const* path, unsigned long long bits, long long asText, int bytes) {
    void* node = config.getPathContextHandle(path, true);
    if (!node) return false;
    if (config.isTextConfig()) {
        char text[40];
        if (bytes == 8)
            std::snprintf(text, sizeof text, "%lld", asText);
        else
            std::snprintf(text, sizeof text, "%d", static_cast<int>(asText));
        return config.setParamValue(static_cast<const char*>(text), -1, node);
    }
    unsigned char le[8];
    littleEndian(bits, le, bytes);
    return config.setParamValue(static_cast<void const*>(le), bytes, node);
}

}  // namespace

bool cApplicationConfig::setParamInt16(char const* path, int value) {
    return setInteger(*this, path, static_cast<unsigned int>(value), value, 2);
}

bool cApplicationConfig::setParamInt32(char const* path, int value) {
    return setInteger(*this, path, static_cast<unsigned int>(value), value, 4);
}

bool cApplicationConfig::setParamInt64(char const* path, long long value) {
    return setInteger(*this, path, static_cast<unsigned long long>(value), value, 8);
}

bool cApplicationConfig::setParamStr(char const* path, const char* text, long long length) {
    if (!text || length < -1) return false;
    void* node = getPathContextHandle(path, true);
    if (!node) return false;
    if (isTextConfig()) return setParamValue(text, length, node);
    const long long n = length == -1 ? static_cast<long long>(std::strlen(text)) : length;
    return setParamValue(static_cast<void const*>(text), n, node);
}
