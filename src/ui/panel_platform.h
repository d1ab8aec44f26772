#pragma once
// What the control panel's logic asks of the windowing layer. The Qt program implements it;
// tests use a recording fake.
#include <optional>
#include <string>

namespace serflash::ui {

class panel_platform {
public:
    virtual ~panel_platform() = default;

    // A message box with an OK button only.
    virtual void message_box(const std::string& caption, const std::string& text) = 0;
    // The folder chooser; nothing when the user cancels.
    virtual std::optional<std::string> choose_folder(const std::string& title) = 0;
    // The modal "Enter a new value" dialog showing `text`; OK copies the edit into `text` and
    // returns true, Cancel leaves it and returns false.
    virtual bool edit_value(std::string& text) = 0;

    // The image window "SER movie frame" with a client area of the given size, replacing any
    // earlier one; false when it could not be created.
    virtual bool create_image_window(int client_w, int client_h) = 0;
    virtual void destroy_image_window() = 0;
    virtual void set_image_caption(const std::string& caption) = 0;
    // Asks for the whole client area to be painted again (nothing when there is no window).
    virtual void repaint_image() = 0;
};

} // namespace serflash::ui
