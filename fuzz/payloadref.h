// The payload entries' wrapping of a body: deflated and digested into a
// payload with a true header ("QORSOPKG", u8 version, u32 body size, u32
// packed size, the body's SHA-256), so that mutations of the body reach the
// section parser instead of stopping at the inflate or the digest check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/sha.h"
#include "zlibref.h"

inline std::string payloadOfBody(const uint8_t* body, size_t size) {
    const std::string plain(reinterpret_cast<const char*>(body), size);
    const std::string packed = zlibPack(plain, 1);
    std::uint8_t digest[32];
    SHA2Hash(plain.data(), digest, static_cast<long long>(plain.size()));
    std::string out("QORSOPKG");
    out.push_back(1);
    putLE(out, plain.size(), 4);
    putLE(out, packed.size(), 4);
    out.append(reinterpret_cast<const char*>(digest), 32);
    return out + packed;
}

// The payload a fuzz input stands for: the input itself when it begins
// with the magic, else a payload of it as a body.  False for no input.
inline bool payloadOfInput(const uint8_t* data, size_t size, std::string& payload) {
    if (size >= 8 && std::memcmp(data, "QORSOPKG", 8) == 0) {
        payload.assign(reinterpret_cast<const char*>(data), size);
        return true;
    }
    if (size == 0) return false;
    payload = payloadOfBody(data, size);
    return true;
}
