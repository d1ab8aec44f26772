#pragma once
// The "Candidates" window: every candidate of a set of results folders in a sortable table;
// the chosen one is shown in its SER file at the peak frame with the candidate boxed, with
// previous / next frame, blink against the frame before or a chosen one, a zoomed cut-out and
// the light curve, every frame of a candidate at the same levels. R, F and U mark it real,
// false or unsure (kept in NAME_marks.json beside its candidates) and go on to the next
// candidate without a mark. Esc and Ctrl+W close the window. On a narrow screen the table
// stands above the frame, and what does not fit scrolls.
#include "ui/review_model.h"
#include "ui/review_view.h"

#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QSpinBox;
class QSplitter;
class QTableView;

namespace serflash::ui::qt {

class candidate_table_model;
class light_curve_view;
class picture_view;
class wrapping_label;

class review_window final : public QWidget {
    Q_OBJECT
public:
    explicit review_window(bool remember_geometry = true, QWidget* parent = nullptr);
    ~review_window() override;

    void load(const std::vector<std::filesystem::path>& folders);
    void save_geometry() const;

    const review_model& model() const { return review_; }
    QTableView* table() const { return table_; }
    // Chooses the candidate in row `view_row` of the table as it is sorted now.
    void choose_row(int view_row);
    // The candidate on display (index into model().candidates()), -1 for none.
    int current() const { return current_; }
    std::int32_t shown_frame() const { return shown_frame_; }
    const picture_view* frame_view() const { return frame_view_; }
    const light_curve_view* curve_view() const { return curve_; }
    const picture_view* cut_view() const { return cut_view_; }
    // Sets the verdict of the candidate shown, then shows the next one without a verdict.
    void mark_current(verdict v);
    void step_frame(int delta);
    void set_blink(bool on);
    // The frame a blink alternates with: nothing for the one before the frame shown.
    void set_blink_against(std::optional<std::int32_t> frame);
    // The frame shown now: the chosen one, or its partner during the other half of a blink.
    std::int32_t frame_on_screen() const { return on_screen_; }
    // Whether the table stands above the frame (narrow screens) rather than beside it.
    bool stacked() const;
    // Shows only the candidates of one class (empty: all of them).
    void filter_class(const std::string& cls);
    // The selenographic grid over the frame, where the scan found the disk.
    void set_grid(bool on);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build_layout();
    void show_candidate(int index);
    void show_frame(std::int32_t frame);
    // The candidates in the table's present order.
    std::vector<std::size_t> table_order() const;
    void export_csv();
    void open_results_folder();
    void choose_folders();
    void fill_class_filter();

    review_model review_;
    candidate_table_model* model_ = nullptr;
    QSortFilterProxyModel* proxy_ = nullptr;
    QTableView* table_ = nullptr;
    picture_view* frame_view_ = nullptr;
    picture_view* cut_view_ = nullptr;
    light_curve_view* curve_ = nullptr;
    wrapping_label* info_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* blink_ = nullptr;
    QSpinBox* blink_against_ = nullptr;
    QSplitter* split_ = nullptr;
    QComboBox* class_filter_ = nullptr;
    QCheckBox* grid_ = nullptr;
    QTimer blink_timer_;
    bool blink_before_ = false;
    candidate_levels levels_;
    std::int32_t on_screen_ = -1;

    candidate_frames frames_;
    int current_ = -1;
    std::int32_t shown_frame_ = -1;
    bool remember_geometry_ = true;
};

} // namespace serflash::ui::qt
