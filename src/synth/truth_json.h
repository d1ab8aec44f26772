#pragma once
// The ground truth of a made-up night as JSON (OUT.truth.json beside OUT.ser), and read back.
#include "synth/night.h"

#include <optional>
#include <string>

namespace serflash::synth {

// The document for the night written to ser_path (only its file name is kept).
std::string truth_json(const night_truth& t, const std::string& ser_path);

// The truth read back: the events, the image motion, the size and the seed; the settings only as
// far as the night's own fields go. Empty with a reason in error when the text is no truth file.
std::optional<night_truth> parse_truth_json(const std::string& text, std::string* error = nullptr);

} // namespace serflash::synth
