#pragma once
// The control panel window. It lays out the panel's controls, mirrors the field store into
// them (and typed text back), forwards every command to main_dialog, and carries out what the
// logic asks of the windowing layer: message boxes, the folder chooser, the value dialog and
// the image window. Controls are named "<kind>_<id>" after their control ids.
#include "ui/main_dialog.h"
#include "ui/qt/batch_thread.h"

#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;
class QGridLayout;
class QLabel;
class QLayout;
class QPlainTextEdit;
class QScrollArea;
class QVBoxLayout;

namespace serflash::ui::qt {

class image_window;
class review_window;

// The screen area a window is on (the primary screen's when it has none yet).
QRect available_area(const QWidget* w);
class scan_table_model;

class control_panel final : public QWidget, public panel_platform {
    Q_OBJECT
public:
    // remember_geometry: window positions are read from and kept in the user's settings.
    control_panel(folder_access& folders, platform::file_system& fs, bool remember_geometry = true);
    ~control_panel() override;

    main_dialog& logic() { return dlg_; }
    image_window* image() const { return image_.get(); }
    bool scanning() const { return runner_.running(); }
    batch_thread& runner() { return runner_; }

    // panel_platform
    void message_box(box_icon icon, box_caption caption, const std::string& text) override;
    std::optional<std::string> choose_folder(const std::string& title) override;
    bool edit_value(std::string& text, const value_rules& rules) override;
    bool create_image_window(int client_w, int client_h) override;
    void destroy_image_window() override;
    void set_image_caption(const std::string& caption) override;
    void repaint_image() override;

    // Adds a file by path, as a double-click on it in the folder list of its folder does.
    void add_path(const std::string& path);
    // Files and folders dropped on the panel: each SER file is added, a folder is listed.
    void add_dropped(const QStringList& paths);
    // The "Scan details" window: the status line's whole story and every note of the last run.
    QWidget* details_window() const;
    // The question "A scan is under way. Stop it and quit?" while it is open.
    QMessageBox* quit_question() const { return quit_question_; }
    // The "Candidates" window for these results folders.
    void open_review(const std::vector<std::filesystem::path>& folders);
    review_window* review() const { return review_.get(); }
    // Whether a finished scan opens the Candidates window (on unless a test says otherwise).
    void set_review_after_scan(bool on) { open_review_after_scan_ = on; }
    // The outer size of the columns without scroll bars, and the least the panel shrinks to.
    QSize natural_size() const;
    QSize least_size() const;

    // Room the panel leaves at the screen's left for the image window, when it can.
    static constexpr int image_room = 680;

signals:
    void scan_finished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void build();
    void arrange_columns();
    QLayout* build_display_column();
    QLayout* build_settings_column();
    QLayout* build_scan_column();
    QLayout* build_status_bar();
    int height_of_status_bar() const;
    void place_on_screen();
    // Moves (and if need be shrinks) the window so that its frame lies on the screen.
    void keep_on_screen();
    void save_geometry() const;
    // Escape or the close box: quits at once, or asks first while a scan runs. The answer is
    // taken against the state when it is given; the question closes when the scan ends.
    void ask_to_quit();
    void quit_answered(bool yes);
    void choose_review_folders();
    QLineEdit* edit(int id, bool read_only = false, int width = 48);
    QAbstractButton* check(int id, const QString& text);
    QAbstractButton* radio(int id, const QString& text, bool text_left);
    QPushButton* button(int id, const QString& text);
    QWidget* up_down(int id, std::function<void(int delta)> stepped);

    // Runs a piece of panel logic, then shows what it changed.
    void forward(const std::function<void()>& action);
    void mirror(int id);
    void sync_table();
    void sync_folder_list();
    // Marks a field whose text is no allowed value, and says why in its tooltip.
    void check_field(int id);
    void show_status();
    // Watches the listed folder, so that new files appear, and remembers it for the next start.
    void follow_folder();

    void start_scan();
    void on_scan_finished();
    void show_progress();
    void set_locked(bool locked);
    void shut_down();

    main_dialog dlg_;
    std::map<int, QLineEdit*> edits_;
    std::map<int, QAbstractButton*> switches_;
    QListWidget* folder_list_ = nullptr;
    QTableView* table_view_ = nullptr;
    scan_table_model* model_ = nullptr;
    QWidget* inputs_ = nullptr;
    QGridLayout* columns_ = nullptr;
    QLayout* display_column_ = nullptr;
    QLayout* settings_column_ = nullptr;
    QLayout* scan_column_ = nullptr;
    int wide_width_ = 0;        // the three columns side by side
    int middle_width_ = 0;      // the first two side by side, the scan table below
    int narrow_width_ = 0;      // every column below the other
    int stacking_ = 0;          // 0: side by side, 1: the scan table below, 2: every column below the other
    QSize guessed_frame_;       // the decorations assumed before the window was on the screen
    bool fills_height_ = false; // sized to the whole height the screen gave, less guessed_frame_
    QScrollArea* scroll_ = nullptr;
    QVBoxLayout* outer_ = nullptr; // the scan table when stacked, the scrolling columns, the status bar
    QLabel* status_ = nullptr;
    QPushButton* details_button_ = nullptr;
    std::unique_ptr<QPlainTextEdit> details_;
    QProgressBar* progress_ = nullptr;
    QPushButton* stop_button_ = nullptr;
    QPushButton* remove_button_ = nullptr;
    QPointer<QMessageBox> quit_question_;
    QFileSystemWatcher watcher_;
    std::string watched_;
    std::unique_ptr<image_window> image_;
    std::vector<std::string> listed_labels_;
    batch_thread runner_;
    QTimer progress_timer_;
    std::unique_ptr<review_window> review_;
    std::optional<std::pair<int, int>> edit_cell_; // row and column of the value being edited
    bool remember_geometry_ = true;
    bool open_review_after_scan_ = true;
    bool syncing_ = false;
    bool closing_ = false;
};

} // namespace serflash::ui::qt
