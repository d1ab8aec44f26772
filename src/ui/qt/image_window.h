#pragma once
// The image window "SER movie frame": a strip with "Auto levels", the Brt button and the
// levels, the histogram, a scrolling view of the frame, and the play bar with the frame's
// number and time below. The view paints the pixels the panel logic composes and forwards
// pointer events to it in client coordinates, so the zoom arithmetic, the read-out and the
// mask drags stay the logic's.
// Keys: arrows and Page Up/Down step frames, Home and End go to the first and last, P plays
// and pauses. The wheel steps frames; Ctrl+wheel zooms about the pointer; a middle-button
// drag, or a drag with Space held, pans.
#include "ui/qt/image_tools.h"

#include <QPoint>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QScrollArea;

namespace serflash::ui {
class main_dialog;
}

namespace serflash::ui::qt {

class image_canvas final : public QWidget {
    Q_OBJECT
public:
    image_canvas(main_dialog& dlg, logic_runner run, int client_w, int client_h);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    main_dialog& dlg_;
    logic_runner run_;
    int wheel_rest_ = 0;
};

// What a key does in the image window.
struct frame_key {
    enum kind { none, step, first, last, play } what = none;
    int frames = 0; // for step
};
frame_key frame_key_for(int key);

class image_window final : public QWidget {
    Q_OBJECT
public:
    image_window(main_dialog& dlg, logic_runner run, int client_w, int client_h);

    image_canvas* canvas() const { return canvas_; }
    QScrollArea* scroller() const { return scroll_; }
    histogram_view* histogram_widget() const { return histogram_; }
    play_bar* player() const { return player_; }
    // The outer size that shows the whole frame without scroll bars (frame decorations aside).
    QSize whole_size() const;
    // The caption the title starts with; the frame number follows it.
    void set_caption(const QString& caption);
    // Shows what the logic holds now: the frame at its size, levels, histogram, slider, time.
    void refresh();
    void show_levels() { refresh(); }
    // Zooms `steps` sizes up or down keeping the image point under `at` (viewport pixels).
    void zoom_at(int steps, QPoint at);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool pan_event(QEvent* event);

    main_dialog& dlg_;
    logic_runner run_;
    image_canvas* canvas_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QCheckBox* auto_levels_ = nullptr;
    QLabel* levels_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* strip_ = nullptr;
    histogram_view* histogram_ = nullptr;
    play_bar* player_ = nullptr;
    QString caption_;
    bool space_held_ = false;
    std::optional<QPoint> pan_from_; // global position of the last pan step
};

} // namespace serflash::ui::qt
