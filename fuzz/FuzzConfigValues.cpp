// The typed reads of the configuration interface over a store that holds
// the input: a text or a binary store (chosen by the first byte), a path and
// a stored value from the rest (split at the first zero byte).  A text
// store's number is checked against the C library's strtoull on the same
// grammar (blanks, a sign or "0x", digits, blanks; a negative number as its
// two's complement, down to -2^63), a binary store's against the value's
// little-endian bytes; the 16-, 32- and 64-bit reads are the number's low
// bits, and numbers written by the typed writes read back as themselves.
// qor-fuzz-link: base
// qor-fuzz-data: base/config
// qor-fuzz-ci-runs: 91000
#include "base/appconfig.h"
#include "fuzzsupport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// A tree of named nodes, each with an optional value.
class cMapConfig : public cApplicationConfig {
public:
    struct sNode {
        std::map<std::string, std::unique_ptr<sNode> > children;
        bool hasValue = false;
        std::string value;
    };

    explicit cMapConfig(bool text) : text_(text) {}

    void* rootContextHandle() override { return &root_; }
    void* subContextHandle(char const* name, void* parent, bool create) override {
        if (!name || !parent) return nullptr;
        auto& children = static_cast<sNode*>(parent)->children;
        auto it = children.find(name);
        if (it != children.end()) return it->second.get();
        if (!create) return nullptr;
        return (children[name] = std::unique_ptr<sNode>(new sNode)).get();
    }
    bool getParamValueSize(void* handle, long long& size) override {
        const sNode* n = static_cast<sNode*>(handle);
        if (!n->hasValue) return false;
        size = static_cast<long long>(n->value.size());
        return true;
    }
    bool getParamValue(void* buf, long long size, void* handle) override {
        const sNode* n = static_cast<sNode*>(handle);
        if (text_ || !n->hasValue || size != static_cast<long long>(n->value.size())) return false;
        if (size) std::memcpy(buf, n->value.data(), static_cast<size_t>(size));
        return true;
    }
    bool setParamValue(void const* data, long long size, void* handle) override {
        if (text_) return false;
        store(handle, std::string(static_cast<const char*>(data), static_cast<size_t>(size)));
        return true;
    }
    bool getParamValue(_guardchar<char>& text, void* handle) override {
        const sNode* n = static_cast<sNode*>(handle);
        if (!text_ || !n->hasValue) return false;
        text.set(n->value.c_str());
        return true;
    }
    bool setParamValue(const char* text, long long length, void* handle) override {
        if (!text_) return false;
        store(handle, length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length)));
        return true;
    }
    bool isTextConfig() override { return text_; }
    bool openConfig(const char*) override { return true; }

    static void store(void* handle, const std::string& value) {
        sNode* n = static_cast<sNode*>(handle);
        n->hasValue = true;
        n->value = value;
    }

private:
    bool text_;
    sNode root_;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The number of a text value by the documented grammar, its arithmetic done
// by strtoull.
bool expectedNumber(const std::string& value, unsigned long long& out) {
    const std::string text = value.substr(0, std::strlen(value.c_str()));
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    std::string s = text.substr(b, e - b);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    int base = 10;
    if (!negative && s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.erase(0, 2);
    }
    if (s.empty()) return false;
    for (char c : s) {
        const bool digit = (c >= '0' && c <= '9') ||
                           (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return false;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(s.c_str(), nullptr, base);
    if (errno == ERANGE) return false;
    if (negative) {
        if (magnitude > (1ULL << 63)) return false;
        out = 0 - magnitude;
    } else {
        out = magnitude;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const bool text = in.byte() & 1;
    const std::string rest = in.rest();
    const size_t zero = rest.find('\0');
    const std::string path = rest.substr(0, zero);
    const std::string value = zero == std::string::npos ? std::string() : rest.substr(zero + 1);

    cMapConfig config(text);
    void* node = config.getPathContextHandle(path.c_str(), true);
    if (!node) return 0;
    cMapConfig::store(node, value);

    unsigned long long expected = 0;
    bool readable = false;
    if (text) {
        readable = expectedNumber(value, expected);
    } else if (!value.empty() && value.size() <= 8) {
        readable = true;
        for (size_t i = value.size(); i-- > 0;) expected = expected << 8 | static_cast<unsigned char>(value[i]);
    }
    unsigned long long got = 0x5A5A5A5A5A5A5A5AULL;
    FUZZ_CHECK(config.getParamInt(path.c_str(), got) == readable);
    FUZZ_CHECK(got == (readable ? expected : 0x5A5A5A5A5A5A5A5AULL));
    if (!readable) expected = 0;
    FUZZ_CHECK(config.getParamInt16(path.c_str()) == static_cast<short>(static_cast<unsigned short>(expected)));
    FUZZ_CHECK(config.getParamInt32(path.c_str()) == static_cast<int>(static_cast<unsigned int>(expected)));
    FUZZ_CHECK(config.getParamInt64(path.c_str()) == static_cast<long long>(expected));

    _guardchar<char> str;
    FUZZ_CHECK(config.getParamStr(path.c_str(), str));
    FUZZ_CHECK(std::strcmp(str.c_str() ? str.c_str() : "", value.c_str()) == 0);
    _typebuf<unsigned char> raw;
    // A text store hands out no raw bytes, but for an empty value.
    FUZZ_CHECK(config.getParam(path.c_str(), raw) == (!text || value.empty()));
    if (!text)
        FUZZ_CHECK(raw.count() == static_cast<long long>(value.size()) &&
                   (value.empty() || std::memcmp(raw.data(), value.data(), value.size()) == 0));

    // What the typed writes store reads back: the value's bits from the
    // input's last eight bytes.
    long long v = 0;
    for (size_t i = 0; i < 8 && i < size; ++i) v = static_cast<long long>(static_cast<unsigned long long>(v) << 8 | data[size - 1 - i]);
    FUZZ_CHECK(config.setParamInt64(path.c_str(), v) && config.getParamInt64(path.c_str()) == v);
    FUZZ_CHECK(config.setParamInt32(path.c_str(), static_cast<int>(v)) &&
               config.getParamInt32(path.c_str()) == static_cast<int>(v));
    FUZZ_CHECK(config.setParamInt16(path.c_str(), static_cast<short>(v)) &&
               config.getParamInt16(path.c_str()) == static_cast<short>(v));
    return 0;
}
