#pragma once
// The titles of the desktop program's message boxes, one table of them: the panel names a box
// by its id, and only this table words it.
#include <string_view>

namespace serflash::ui {

enum class box_caption {
    open_folder,   // listing a folder
    add_file,      // adding a file to the scan table
    show_file,     // showing a row's file
    start_scan,    // the checks before a batch
    image_window,  // the image window and its picture
    scan_finished, // the closing box of a batch that ran to its end
    scan_stopped,  // the closing box of a batch the user stopped
    quit,          // the question before quitting during a scan
};

constexpr std::string_view caption_text(box_caption id) {
    switch (id) {
        case box_caption::open_folder:
            return "Open folder";
        case box_caption::add_file:
            return "Add a file";
        case box_caption::show_file:
            return "Show a file";
        case box_caption::start_scan:
            return "Start scan";
        case box_caption::image_window:
            return "Image window";
        case box_caption::scan_finished:
            return "Scan finished";
        case box_caption::scan_stopped:
            return "Scan stopped";
        case box_caption::quit:
            return "Quit";
    }
    return "serflash";
}

} // namespace serflash::ui
