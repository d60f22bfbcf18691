// cSerializedKey<T>: a sort key made distinct by a serial number, as the list
// view sorts its rows: equal keys keep their insertion order.  Compares the
// keys first and the (signed) serial numbers second.
#pragma once

template <typename T>
class cSerializedKey {
public:
    cSerializedKey() = default;
    cSerializedKey(const T& k, int s) : key(k), serial(s) {}

    bool operator==(const cSerializedKey& o) const { return key == o.key && serial == o.serial; }
    bool operator!=(const cSerializedKey& o) const { return !(*this == o); }
    bool operator<(const cSerializedKey& o) const {
        if (key < o.key) return true;
        if (o.key < key) return false;
        return serial < o.serial;
    }
    bool operator>(const cSerializedKey& o) const { return o < *this; }
    bool operator<=(const cSerializedKey& o) const { return !(o < *this); }
    bool operator>=(const cSerializedKey& o) const { return !(*this < o); }

    T key{};
    int serial = 0;
};
