#pragma once
// What the control panel's logic asks of the windowing layer. The Qt program implements it;
// tests use a recording fake.
#include "ui/captions.h"

#include <functional>
#include <optional>
#include <string>

namespace serflash::ui {

// The standard icon of a message box.
enum class box_icon { information, warning, error };

// What the value dialog tells while a value is typed: the values allowed, and why the text as it
// stands is none of them (empty when it is one).
struct value_rules {
    std::string allowed;
    std::function<std::string(const std::string& text)> problem;
};

class panel_platform {
public:
    virtual ~panel_platform() = default;

    // A message box with an OK button only, the caption's plain title and the icon's kind.
    virtual void message_box(box_icon icon, box_caption caption, const std::string& text) = 0;
    // The folder chooser; nothing when the user cancels.
    virtual std::optional<std::string> choose_folder(const std::string& title) = 0;
    // The modal "Enter a new value" dialog showing `text`; OK copies the edit into `text` and
    // returns true, Cancel leaves it and returns false. OK is offered only for allowed values.
    virtual bool edit_value(std::string& text, const value_rules& rules) = 0;

    // The image window "SER movie frame" with a client area of the given size, replacing any
    // earlier one; false when it could not be created.
    virtual bool create_image_window(int client_w, int client_h) = 0;
    virtual void destroy_image_window() = 0;
    virtual void set_image_caption(const std::string& caption) = 0;
    // Asks for the whole client area to be painted again (nothing when there is no window).
    virtual void repaint_image() = 0;
};

} // namespace serflash::ui
