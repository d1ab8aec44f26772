#pragma once
// Header texts of SER files are 8-bit text in the Japanese Windows code page (932).
#include <string>
#include <string_view>

namespace serflash::ser {

// The text as UTF-8 for a terminal or a window: CR LF line ends become LF, and every byte that
// is not valid code page 932 text or is a control character is shown as \xNN, never dropped.
std::string cp932_to_printable_utf8(std::string_view text);

} // namespace serflash::ser
