#include "detect/messages.h"

namespace serflash::detect {

std::string_view caption_text(caption_id id) {
    switch (id) {
        case caption_id::batch:
            return "IDC_BUTTON_FILE_TO_FILE";
        case caption_id::scan:
            return "case IDC_SCAN";
        case caption_id::packet_statistics:
            return "compute_packet_stats";
        case caption_id::display:
            return "prep_for_display()";
        case caption_id::snapshot:
            return "write_snapshot";
        case caption_id::completed:
            return "The scans of all SER files completed!";
        case caption_id::stopped:
            return "The scans were stopped!";
    }
    return "serflash";
}

engine_message engine_message::failure(caption_id caption, const std::string& what) {
    return failure(caption, "Error: " + what + ".", what);
}

engine_message engine_message::failure(caption_id caption, std::string text, std::string reason) {
    return {message_kind::failure, caption, std::move(text), std::move(reason)};
}

engine_message engine_message::note(caption_id caption, std::string text) {
    return {message_kind::note, caption, std::move(text), {}};
}

engine_message engine_message::closing(caption_id caption, std::string text) {
    return {message_kind::closing, caption, std::move(text), {}};
}

} // namespace serflash::detect
