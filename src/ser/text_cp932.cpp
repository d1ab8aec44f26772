#include "ser/text_cp932.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iconv.h>

namespace serflash::ser {
namespace {

void append_escaped(std::string& out, unsigned char byte) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "\\x%02X", byte);
    out += buf;
}

// Decodes with iconv; undecodable bytes are escaped one at a time.
std::string decode(std::string_view text) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(
                  static_cast<std::intptr_t>(-1))) { // no converter installed: keep ASCII, escape the rest
        for (const char c : text) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80)
                out += c;
            else
                append_escaped(out, b);
        }
        return out;
    }
    std::string in(text);
    char* src = in.data();
    std::size_t left = in.size();
    char buf[256];
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, static_cast<std::size_t>(dst - buf));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG && left > 0) {
            append_escaped(out, static_cast<unsigned char>(*src));
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string cp932_to_printable_utf8(std::string_view text) {
    const std::string utf8 = decode(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
            out += '\n';
            ++i;
        } else if (b < 0x20 || b == 0x7F) {
            append_escaped(out, b);
        } else {
            out += utf8[i];
        }
    }
    return out;
}

} // namespace serflash::ser
