// Signed number texts at the ends of the 64-bit range: the text the C
// library prints for the smallest value reads back as that value, and
// decimals beyond the range saturate as the C library's own scanning does.
#include "base/strutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

TEST(StrToInt64Edges, SmallestValueAndSaturationMatchTheCLibrary) {
    const char* const texts[] = {"-9223372036854775808", "-9223372036854775807", "-9223372036854775809",
                                 "-99999999999999999999999", " \t-9223372036854775808x", "9223372036854775807",
                                 "9223372036854775808", "-0", "-07"};
    for (const char* t : texts) {
        long long expect = 0;
        ASSERT_EQ(std::sscanf(t, "%lld", &expect), 1) << t;
        EXPECT_EQ(strToInt64(t), expect) << t;
        const std::string s(t);
        std::basic_string<unsigned short> w(s.begin(), s.end());
        EXPECT_EQ(strToInt64(w.c_str()), expect) << t;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%lld", LLONG_MIN);
    EXPECT_EQ(strToInt64(text), LLONG_MIN);
    // What the minus sign applies to is still read by the unsigned rule.
    EXPECT_EQ(strToInt64("-0x10"), -16);
    EXPECT_EQ(strToInt64("--5"), LLONG_MIN);
    EXPECT_EQ(strToInt64("- 5"), -5);
}
