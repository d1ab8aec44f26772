#pragma once
// Toolkit-free stand-in for the control panel's fields: the text of every edit by control id,
// and the state of every check box and radio button. Numbers are read and written with the
// panel's conversion rules (see get_int / set_int). The Qt windows mirror this store; the
// command-line program fills it from its options.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace serflash::ui {

class dialog_fields {
public:
    // Text of a field; empty when never set.
    const std::string& text(int id) const;
    void set_text(int id, std::string text);

    // Reads a field as a number: leading blanks are skipped, then an optional '-' (signed reads
    // only) and decimal digits, then optional trailing blanks. Anything else, no digits, or a
    // value out of range reads as 0 and reports translated = false.
    std::int32_t get_int(int id, bool* translated = nullptr) const;
    std::uint32_t get_uint(int id, bool* translated = nullptr) const;

    // Writes a number: signed as "%d", unsigned as "%u" of the value's 32-bit pattern.
    void set_int(int id, std::int32_t value);
    void set_uint(int id, std::uint32_t value);

    bool checked(int id) const;
    void set_checked(int id, bool on);
    // Checks `id` and clears every other button from `first` to `last`.
    void check_radio(int first, int last, int id);

    // Called after every change, with the id that changed (the Qt layer mirrors it).
    std::function<void(int id)> on_change;

private:
    void changed(int id) const;
    std::map<int, std::string> text_;
    std::map<int, bool> checked_;
};

// The conversions by themselves, for texts that are not in the store.
bool parse_dialog_int(const std::string& text, bool is_signed, std::int64_t& value);
// C atoi semantics: leading white space, optional sign, digits; no digits gives 0.
// Values beyond the 32-bit range saturate.
std::int32_t atoi_text(const std::string& text);

} // namespace serflash::ui
