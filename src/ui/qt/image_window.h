#pragma once
// The image window "SER movie frame": a strip with "Auto levels" and the Brt button above a
// scrolling view of the frame. The view paints the pixels the panel logic composes and
// forwards pointer events to it in client coordinates, so the zoom arithmetic, the read-out
// and the mask drags stay the logic's. Arrow keys, Page Up/Down and the wheel step frames.
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QScrollArea;

namespace serflash::ui {
class main_dialog;
}

namespace serflash::ui::qt {

// Runs a piece of panel logic and shows what it changed (the panel's forward()).
using logic_runner = std::function<void(const std::function<void()>&)>;

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

class image_window final : public QWidget {
    Q_OBJECT
public:
    image_window(main_dialog& dlg, logic_runner run, int client_w, int client_h);

    image_canvas* canvas() const { return canvas_; }
    QScrollArea* scroller() const { return scroll_; }
    // The outer size that shows the whole frame without scroll bars (frame decorations aside).
    QSize whole_size() const;
    // Shows the frame's levels next to the switch.
    void show_levels();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    main_dialog& dlg_;
    logic_runner run_;
    image_canvas* canvas_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QCheckBox* auto_levels_ = nullptr;
    QLabel* levels_ = nullptr;
    QWidget* strip_ = nullptr;
};

// Frames stepped by a key in the image window (0: not a stepping key).
int frames_for_key(int key);

} // namespace serflash::ui::qt
