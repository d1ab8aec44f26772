#include "ser/text_cp932.h"

#include <gtest/gtest.h>

namespace serflash::ser {
namespace {

TEST(Cp932Text, ConvertsKeepsLinesAndEscapesTheRest) {
    // Full-width colon, two kanji, a half-width katakana.
    EXPECT_EQ(cp932_to_printable_utf8("Observer(40byte)\x81\x46\x93\xfa\x96\x7b \xb1\r\n"),
              "Observer(40byte)\xef\xbc\x9a\xe6\x97\xa5\xe6\x9c\xac \xef\xbd\xb1\n");
    // 0x80 is no character; a lead byte at the very end has no second byte.
    EXPECT_EQ(cp932_to_printable_utf8("a\x80"
                                      "b\x81"),
              "a\\x80b\\x81");
    // Control characters inside a field must not reach the terminal.
    EXPECT_EQ(cp932_to_printable_utf8(std::string("x\x1b[2Jy\rz\n\x7f", 10)), "x\\x1B[2Jy\\x0Dz\\x0A\\x7F");
    EXPECT_EQ(cp932_to_printable_utf8(std::string("\0", 1)), "\\x00");
}

} // namespace
} // namespace serflash::ser
