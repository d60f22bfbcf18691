// What a loaded hive costs, counted: every allocation of this program goes
// through the meter of allocmeter.h.  Hives of every shape Python can lay
// out (wide, deep, paired, bushy, with values and names in place and on the
// heap, out of order and with names twice, of the shortest records a file
// may hold) load within 8 times their file's
// size, each with all its nodes; a file longer than the store reads is
// refused with its reason and kept as it is.
#include "uitoolkit/ciappconfig.h"
#include "uitoolkit/limits.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "allocmeter.h"
#include "testsupport.h"

namespace {

// Writes one hive per shape into the folder given, and prints for each its
// name, its node count and the path and value of its last node in name
// order.
const char kShapes[] = R"PY(
import struct, sys
out = sys.argv[1]
digits = b'0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz'
def name(i, width=4):
    s = b''
    for _ in range(width):
        s = digits[i % 62:i % 62 + 1] + s
        i //= 62
    return s
def emit(value, children, order=sorted, parts=None):
    top = parts is None
    parts = [] if top else parts
    parts.append(struct.pack('<H', len(value)) + value)
    for n, (v, kids) in order(children):
        field = n + b'\0' * ((-len(n)) % 4)
        parts.append(struct.pack('<BB', 1, len(field)) + field)
        emit(v, kids, order, parts)
    parts.append(b'\0')
    return b''.join(parts) if top else None
def tree(arity, depth):
    if depth == 0: return []
    return [(name(i), (b'', tree(arity, depth - 1))) for i in range(arity)]
def count(children):
    return sum(1 + count(k) for _, (_, k) in children)
def last(children, path=b''):
    n, (v, kids) = max(children)
    path = path + b'/' + n if path else n
    return last(kids, path) if kids else (path, v)
N = 60000
shapes = {
    # A million children of 9 bytes each, as one hive of 9 MB.
    'wide': [(name(i), (b'', [])) for i in range(1000000)],
    'wide1': [(name(i), (bytes([i & 255]), [])) for i in range(N)],
    'wide9': [(name(i), (name(i, 9), [])) for i in range(N)],
    'longnames': [(name(i, 9), (b'', [])) for i in range(N)],
    'pairs': [(name(i), (b'', [(b'k', (b'', []))])) for i in range(N // 2)],
    'binary': tree(2, 15),
    'three': tree(3, 10),
    'nine': tree(9, 5),
}
for key, children in shapes.items():
    open(out + '/' + key, 'wb').write(b'QORC' + emit(b'', children))
    p, v = last(children)
    print(key, count(children) + 1, p.decode(), v.hex() or '-')
# Out of order, and every name twice (the second time with the value).
wide = shapes['wide'][:N]
open(out + '/reversed', 'wb').write(b'QORC' + emit(b'', wide, order=lambda c: sorted(c, reverse=True)))
print('reversed', N + 1, name(N - 1).decode(), '-')
twice = [(n, (b'', [])) for n, _ in wide] + [(n, (b'v', [])) for n, _ in wide]
open(out + '/twice', 'wb').write(b'QORC' + emit(b'', twice, order=lambda c: c))
print('twice', N + 1, name(N - 1).decode(), '76')
# The shortest records a file may hold, 6 bytes: one-byte name fields, no
# values.  A million children of 62 names over and over, and a tree of them
# 62 wide three deep.
def record(n, inner=b''):
    return b'\x01\x01' + n + b'\x00\x00' + inner + b'\x00'
one = [digits[i:i + 1] for i in range(62)]
body = b''.join(record(one[i % 62]) for i in range(1000000))
open(out + '/onebyte', 'wb').write(b'QORC\x00\x00' + body + b'\x00')
print('onebyte', 63, 'z', '-')
leaves = b''.join(record(n) for n in one)
mids = b''.join(record(n, leaves) for n in one)
open(out + '/onebytetree', 'wb').write(b'QORC\x00\x00' + b''.join(record(n, mids) for n in one) + b'\x00')
print('onebytetree', 1 + 62 + 62 * 62 + 62 ** 3, 'z/z/z', '-')
)PY";

int countNodes(const cCIAppConfig::sDataContainer& n) {
    int count = 1;
    for (std::size_t i = 0; i < n.children.count(); ++i) count += countNodes(*n.children.at(i));
    return count;
}

std::string hexOf(const _typebuf<unsigned char>& v) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (long long i = 0; i < v.count(); ++i) {
        h += d[v.data()[i] >> 4];
        h += d[v.data()[i] & 15];
    }
    return h.empty() ? "-" : h;
}

class HiveMemory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0); }

    qortest::TempDir home_;
    qortest::ScopedEnv homeVar_{"HOME", home_.path().c_str()};
    std::string dir_ = home_.path() + "/.qor";
    qortest::TempDir shapes_;
};

TEST_F(HiveMemory, EveryShapeLoadsWithinEightTimesItsFileSize) {
    int status = -1;
    const std::string listing = qortest::runPython(kShapes, "'" + shapes_.path() + "'", &status);
    ASSERT_EQ(status, 0) << listing;
    std::size_t at = 0;
    int shapes = 0;
    while (at < listing.size()) {
        const std::size_t nl = listing.find('\n', at);
        char name[32], last[300], value[64];
        int nodes = 0;
        ASSERT_EQ(std::sscanf(listing.substr(at, nl - at).c_str(), "%31s %d %299s %63s", name, &nodes, last, value), 4);
        at = nl + 1;
        ++shapes;
        const std::string file = qortest::readFile(shapes_.file(name));
        ASSERT_TRUE(qortest::writeFile(dir_ + "/" + name, file));
        {
            qortest::AllocMeter meter;
            cCIAppConfig c;
            ASSERT_TRUE(c.openConfig("qor"));
            EXPECT_LE(meter.peak(), qor_uitk::kHiveBytesPerFileByte * static_cast<long long>(file.size()) + (64 << 10))
                << name << ": " << file.size() << " bytes";
            EXPECT_EQ(c.hiveFault(name), cCIAppConfig::hfNone) << name;
            void* root = c.getPathContextHandle(name, false);
            ASSERT_NE(root, nullptr) << name;
            EXPECT_EQ(countNodes(*static_cast<cCIAppConfig::sDataContainer*>(root)), nodes) << name;
            _typebuf<unsigned char> v;
            c.getParam((std::string(name) + "/" + last).c_str(), v);
            EXPECT_EQ(hexOf(v), value) << name;
        }
        ASSERT_EQ(unlink((dir_ + "/" + name).c_str()), 0);
    }
    EXPECT_EQ(shapes, 12);
}

// One byte past what the store reads: nothing of it is read, the hive says
// why, and a save leaves the file as it was.
TEST_F(HiveMemory, HiveLongerThanTheStoreReadsIsRefusedWithItsReason) {
    const std::string path = dir_ + "/huge";
    ASSERT_TRUE(qortest::writeFile(path, std::string("QORC\0\0\0", 7)));
    ASSERT_EQ(truncate(path.c_str(), qor_uitk::kMaxHiveFileBytes + 1), 0);
    qortest::AllocMeter meter;
    cCIAppConfig c;
    ASSERT_TRUE(c.openConfig("qor"));
    EXPECT_LT(meter.peak(), 1 << 20);
    EXPECT_EQ(c.hiveFault("huge"), cCIAppConfig::hfTooLarge);
    const std::string most = "longer than the " + std::to_string(qor_uitk::kMaxHiveFileBytes >> 20) + " MiB";
    EXPECT_NE(std::string(cCIAppConfig::describeHiveFault(c.hiveFault("huge"))).find(most), std::string::npos);
    ASSERT_TRUE(c.setParamStr("huge/v", "x", -1));
    EXPECT_FALSE(c.saveConfig());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, qor_uitk::kMaxHiveFileBytes + 1);
    EXPECT_EQ(qortest::readFile(path).substr(0, 7), std::string("QORC\0\0\0", 7));

    // At the limit it is read (and found to hold bytes after its end).
    ASSERT_EQ(truncate(path.c_str(), qor_uitk::kMaxHiveFileBytes), 0);
    cCIAppConfig again;
    ASSERT_TRUE(again.openConfig("qor"));
    EXPECT_EQ(again.hiveFault("huge"), cCIAppConfig::hfTrailingBytes);
}

// Values set one by one before a save cost no more than the hive they make
// costs loaded from its file: 100,000 values in 100 sections, and 20,000
// values below one path 30 levels deep.  Counted while they wait for the
// save, and after it (when the hive also holds its file's bytes, as a
// loaded one does).
TEST_F(HiveMemory, ValuesSetBeforeASaveHoldNoMoreThanTheHiveLoaded) {
    for (const std::string hive : {"wide", "deep"}) {
        std::string above = hive;
        for (int level = 1; hive == "deep" && level < 30; ++level) above += "/l" + std::to_string(level);
        const int values = hive == "wide" ? 100000 : 20000;
        auto path = [&](int i) {
            return hive == "wide" ? "wide/g" + std::to_string(i / 1000) + "/k" + std::to_string(i % 1000)
                                  : above + "/k" + std::to_string(i);
        };
        long long beforeSave = 0, afterSave = 0, loaded = 0;
        {
            qortest::AllocMeter meter;
            cCIAppConfig c;
            ASSERT_TRUE(c.openConfig("qor"));
            for (int i = 0; i < values; ++i)
                ASSERT_TRUE(c.setParamStr(path(i).c_str(), ("v" + std::to_string(i)).c_str(), -1));
            beforeSave = meter.held();
            ASSERT_TRUE(c.saveConfig());
            afterSave = meter.held();
        }
        qortest::AllocMeter meter;
        cCIAppConfig c;
        ASSERT_TRUE(c.openConfig("qor"));
        loaded = meter.held();
        _guardchar<char> last;
        ASSERT_TRUE(c.getParamStr(path(values - 1).c_str(), last));
        EXPECT_EQ(std::string(last.c_str()), "v" + std::to_string(values - 1));
        EXPECT_LE(beforeSave, loaded) << hive << ": " << beforeSave << " bytes before the save";
        EXPECT_LE(afterSave, loaded + loaded / 4) << hive << ": " << afterSave << " bytes after the save";
        ASSERT_EQ(unlink((dir_ + "/" + hive).c_str()), 0);
    }
}

}  // namespace
