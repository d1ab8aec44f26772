#pragma once
// The image window's tools beside the frame: the histogram with its draggable black and white
// points, and the play bar (play / pause, speed, the frame slider). They show what the panel
// logic holds and hand every change to it; the arithmetic is the logic's (ui/histogram.h,
// ui/playback.h).
#include "ui/histogram.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace serflash::ui {
class main_dialog;
}

namespace serflash::ui::qt {

// Runs a piece of panel logic and shows what it changed (the panel's forward()).
using logic_runner = std::function<void(const std::function<void()>&)>;

// The counts of the shown frame's samples (logarithmic) with the black and white points in
// effect. A drag moves the nearer point and shows the frame between the chosen points; a
// double-click goes back to "Auto levels".
class histogram_view final : public QWidget {
    Q_OBJECT
public:
    histogram_view(main_dialog& dlg, logic_runner run, QWidget* parent = nullptr);
    void refresh();
    const histogram& shown() const { return hist_; }
    // The x of a level in the widget, for tests and the drawing alike.
    double x_of(std::int32_t level) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    double plot_w() const;
    void drag_to(double x);

    main_dialog& dlg_;
    logic_runner run_;
    histogram hist_;
    std::optional<level_point> held_;
};

// Play / pause at the file's frame rate times the chosen speed, and a slider over the frames
// that shows each frame while it is dragged.
class play_bar final : public QWidget {
    Q_OBJECT
public:
    play_bar(main_dialog& dlg, logic_runner run, QWidget* parent = nullptr);
    void refresh();
    void set_playing(bool on);
    bool playing() const { return timer_.isActive(); }
    QSlider* slider() const { return slider_; }
    int interval_ms() const { return timer_.interval(); }

private:
    void tick();

    main_dialog& dlg_;
    logic_runner run_;
    QPushButton* play_ = nullptr;
    QComboBox* speed_ = nullptr;
    QSlider* slider_ = nullptr;
    QTimer timer_;
    int frames_per_tick_ = 1;
};

} // namespace serflash::ui::qt
