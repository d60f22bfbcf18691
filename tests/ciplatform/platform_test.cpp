// The platform's font settings, and the canvas reading the wrap factor.
#include "ciplatform/platform.h"
#include "recordingcanvas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(PlatformFontSettings, DefaultsUntilSetAndCopiesOfWhatIsSet) {
    EXPECT_STREQ(_glbalStdFont(), "Tahoma");
    EXPECT_STREQ(_glbalFixedFont(), "Courier New");
    EXPECT_EQ(textWrapYFactor(), 1.2);

    char* name = new char[8];
    std::strcpy(name, "Verdana");
    setGlobalStdFont(name);
    std::memset(name, 'x', 7);
    delete[] name;
    EXPECT_STREQ(_glbalStdFont(), "Verdana");
    setGlobalFixedFont("Menlo");
    EXPECT_STREQ(_glbalFixedFont(), "Menlo");
    EXPECT_STREQ(_glbalStdFont(), "Verdana");
    setGlobalStdFont(nullptr);
    setGlobalFixedFont(nullptr);
    EXPECT_STREQ(_glbalStdFont(), "Tahoma");
    EXPECT_STREQ(_glbalFixedFont(), "Courier New");
}

TEST(PlatformFontSettings, WrappedTextUsesTheFactorSet) {
    // Lines of the size-10 fixed font: trunc(10 x 1.2) = 12 apart, then
    // trunc(10 x 1.07) = 10 apart.
    qortest::cRecordingCanvas a;
    sSize used;
    ASSERT_TRUE(a.drawTextWrapped(0, 0, 100, 10, 0, "ab\ncd", used, true, 0));
    EXPECT_EQ(used.h, 24);
    setTextWrapYFactor(1.07);
    qortest::cRecordingCanvas b;
    ASSERT_TRUE(b.drawTextWrapped(0, 0, 100, 10, 0, "ab\ncd", used, true, 0));
    EXPECT_EQ(used.h, 20);
    ASSERT_EQ(b.calls.size(), 2u);
    EXPECT_EQ(b.calls[1].y, 10);
    setTextWrapYFactor(1.2);
}
