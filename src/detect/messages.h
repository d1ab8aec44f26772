#pragma once
// What the engine tells a front end, as data: what kind of message it is, the place it comes
// from (whose name a message box carries as its caption) and its text. A front end chooses what
// to show, and where, by the kind and the place, never by reading the words.
#include <string>
#include <string_view>

namespace serflash::detect {

enum class message_kind {
    failure, // something asked for was not done: a file skipped, a scan cut short, an output lost
    note,    // something done otherwise than asked, the results kept (a folder left unrenamed)
    closing, // the batch's last message: its start and end times
};

// The places messages come from.
enum class caption_id {
    batch,             // the batch run ("Start scan")
    scan,              // the passes over one file
    packet_statistics, // the statistics of a packet
    display,           // the display bitmap the snapshots are drawn into
    snapshot,          // a snapshot file
    completed,         // the closing message of a batch that ran to its end
    stopped,           // the closing message of a batch the user stopped
};

// The caption of each place's message box ("IDC_BUTTON_FILE_TO_FILE", "case IDC_SCAN",
// "The scans of all SER files completed!", ...): the one table of them.
std::string_view caption_text(caption_id id);

struct engine_message {
    message_kind kind = message_kind::note;
    caption_id caption = caption_id::scan;
    std::string text; // the message box's text, whole
    // For a failure: what went wrong, in plain words on one line, with the system's reason where
    // there is one (a box's text may leave that out). Empty for notes and the closing message.
    std::string reason;
    int file = -1; // the row of the file it is about in the batch; -1: the batch's own

    // "Error: WHAT." with WHAT as its reason.
    static engine_message failure(caption_id caption, const std::string& what);
    // A failure whose box has a text of its own.
    static engine_message failure(caption_id caption, std::string text, std::string reason);
    static engine_message note(caption_id caption, std::string text);
    static engine_message closing(caption_id caption, std::string text);
};

} // namespace serflash::detect
