#pragma once
// The columns of the "Candidates" table, in the order shown: the verdict first, so it stays in
// sight on a narrow screen. Each column says what its cells read and what they sort by; a new
// column is one more entry in review_columns().
#include "ui/review_model.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace serflash::ui {

// What a cell sorts by: numbers as numbers, texts as texts.
using sort_key = std::variant<double, std::string>;

struct review_column {
    const char* id;     // stable name for code and tests ("mark", "frame", ...)
    const char* header; // the header's text
    const char* tip;    // the header's tooltip, in words
    bool numeric;       // right-aligned
    std::string (*text)(const candidate&);
    sort_key (*key)(const candidate&);
};

std::span<const review_column> review_columns();
// The position of the column with this id, or -1.
int review_column_index(std::string_view id);

} // namespace serflash::ui
