// Overflow-checked size arithmetic.  Every decoder and container computes
// width x height x bytes-per-pixel, strides and offset + length through these,
// so an overflow is just another parse failure:
//
//     std::size_t row_bytes = 0;
//     if (!checked_mul(width, bytes_per_pixel, row_bytes)) return false;
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

template <typename A, typename B, typename R>
inline bool checked_add(A a, B b, R& out) {
    static_assert(std::is_integral<A>::value && std::is_integral<B>::value && std::is_integral<R>::value,
                  "integers only");
    R r;
    if (__builtin_add_overflow(a, b, &r)) return false;
    out = r;
    return true;
}

template <typename A, typename B, typename R>
inline bool checked_sub(A a, B b, R& out) {
    static_assert(std::is_integral<A>::value && std::is_integral<B>::value && std::is_integral<R>::value,
                  "integers only");
    R r;
    if (__builtin_sub_overflow(a, b, &r)) return false;
    out = r;
    return true;
}

template <typename A, typename B, typename R>
inline bool checked_mul(A a, B b, R& out) {
    static_assert(std::is_integral<A>::value && std::is_integral<B>::value && std::is_integral<R>::value,
                  "integers only");
    R r;
    if (__builtin_mul_overflow(a, b, &r)) return false;
    out = r;
    return true;
}

// a x b x c, all-or-nothing.
template <typename A, typename B, typename C, typename R>
inline bool checked_mul(A a, B b, C c, R& out) {
    R ab;
    return checked_mul(a, b, ab) && checked_mul(ab, c, out);
}

// True when [offset, offset + length) lies inside [0, size).  A negative size
// (a stream's -1 for a size it could not tell) holds no range at all.
template <typename O, typename L, typename S>
inline bool range_inside(O offset, L length, S size) {
    if (offset < 0 || length < 0 || size < 0) return false;
    unsigned long long end;
    if (!checked_add(static_cast<unsigned long long>(offset), static_cast<unsigned long long>(length), end))
        return false;
    return end <= static_cast<unsigned long long>(size);
}
