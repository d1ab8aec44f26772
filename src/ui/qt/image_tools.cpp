#include "ui/qt/image_tools.h"

#include "ui/main_dialog.h"
#include "ui/playback.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>

namespace serflash::ui::qt {
namespace {
constexpr int side_margin = 6; // room for the point markers at the ends
}

histogram_view::histogram_view(main_dialog& dlg, logic_runner run, QWidget* parent)
    : QWidget(parent), dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("histogram"));
    setFixedHeight(56);
    setMinimumWidth(120);
    setToolTip(
        QStringLiteral("The frame's samples. Drag the black or the white point to show the frame between them "
                       "(the snapshots keep the row's Brt); double-click for Auto levels again."));
}

void histogram_view::refresh() {
    hist_ = dlg_.frame_histogram();
    update();
}

double histogram_view::plot_w() const { return std::max(1, width() - 2 * side_margin); }

double histogram_view::x_of(std::int32_t level) const { return side_margin + x_of_level(level, hist_.range, plot_w()); }

void histogram_view::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const double h = height() - 4;
    const std::vector<double> bars = histogram_bars(hist_, h);
    const double bin_w = plot_w() / static_cast<double>(std::max<std::size_t>(1, bars.size()));
    p.setPen(Qt::NoPen);
    p.setBrush(palette().text().color());
    for (std::size_t i = 0; i < bars.size(); ++i)
        p.drawRect(QRectF(side_margin + static_cast<double>(i) * bin_w, height() - 2 - bars[i], bin_w, bars[i]));
    const auto levels = dlg_.display_levels();
    if (!levels) return;
    const auto marker = [&](std::int32_t level, const QColor& fill) {
        const double x = x_of(level);
        p.setPen(QPen(QColor(230, 120, 0), 1));
        p.drawLine(QPointF(x, 0), QPointF(x, height()));
        p.setBrush(fill);
        const QPointF tri[3] = {{x - 5, 0}, {x + 5, 0}, {x, 8}};
        p.drawPolygon(tri, 3);
    };
    marker(levels->low, Qt::black);
    marker(levels->high, Qt::white);
}

void histogram_view::mousePressEvent(QMouseEvent* event) {
    const auto levels = dlg_.display_levels().value_or(dlg_.shown_levels().value_or(display::stretch_levels{}));
    if (event->button() != Qt::LeftButton) return;
    held_ = nearer_point(event->position().x() - side_margin, levels, hist_.range, plot_w());
    drag_to(event->position().x());
}

void histogram_view::mouseMoveEvent(QMouseEvent* event) {
    if (held_) drag_to(event->position().x());
}

void histogram_view::mouseReleaseEvent(QMouseEvent*) { held_.reset(); }

void histogram_view::mouseDoubleClickEvent(QMouseEvent*) {
    held_.reset();
    run_([this] { dlg_.set_auto_levels(true); });
}

void histogram_view::drag_to(double x) {
    const auto now = dlg_.display_levels().value_or(dlg_.shown_levels().value_or(display::stretch_levels{}));
    const display::stretch_levels moved =
        move_point(now, *held_, level_at_x(x - side_margin, hist_.range, plot_w()), hist_.range);
    if (moved != now || dlg_.level_setting().source != level_source::chosen)
        run_([&] { dlg_.set_chosen_levels(moved); });
}

play_bar::play_bar(main_dialog& dlg, logic_runner run, QWidget* parent)
    : QWidget(parent), dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("play_bar"));
    play_ = new QPushButton(QStringLiteral("Play"));
    play_->setObjectName(QStringLiteral("button_play"));
    play_->setCheckable(true);
    play_->setFocusPolicy(Qt::NoFocus);
    play_->setAutoDefault(false);
    play_->setToolTip(QStringLiteral("Play the file at its frame rate times the speed beside (P)"));
    speed_ = new QComboBox;
    speed_->setObjectName(QStringLiteral("play_speed"));
    speed_->setFocusPolicy(Qt::NoFocus);
    for (const double s : playback_speeds()) speed_->addItem(QStringLiteral("x%1").arg(s), s);
    speed_->setToolTip(QStringLiteral("Playback speed, times the file's frame rate"));
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setObjectName(QStringLiteral("frame_slider"));
    slider_->setFocusPolicy(Qt::NoFocus);
    slider_->setMinimumWidth(80);
    slider_->setToolTip(QStringLiteral("Drag through the frames (Home, End: the first and the last)"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(play_);
    row->addWidget(speed_);
    row->addWidget(slider_, 1);

    connect(play_, &QPushButton::toggled, this, &play_bar::set_playing);
    connect(speed_, &QComboBox::currentIndexChanged, this, [this] {
        if (playing()) set_playing(true);
    });
    // Every position the slider passes while dragged is shown (scrubbing).
    connect(slider_, &QSlider::valueChanged, this, [this](int frame) {
        if (frame != dlg_.cur_frame()) run_([&] { dlg_.go_to_frame(frame); });
    });
    connect(&timer_, &QTimer::timeout, this, &play_bar::tick);
}

void play_bar::refresh() {
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, std::max(0, dlg_.frame_count() - 1));
    slider_->setValue(dlg_.cur_frame());
    setEnabled(dlg_.file_open());
}

void play_bar::set_playing(bool on) {
    if (play_->isChecked() != on) {
        const QSignalBlocker quiet(play_);
        play_->setChecked(on);
    }
    play_->setText(on ? QStringLiteral("Pause") : QStringLiteral("Play"));
    if (!on) {
        timer_.stop();
        return;
    }
    const playback_tick t = playback_timing(dlg_.frame_times().frame_rate, speed_->currentData().toDouble());
    frames_per_tick_ = t.frames;
    // At the last frame, play starts again from the first.
    if (dlg_.cur_frame() >= dlg_.frame_count() - 1) run_([this] { dlg_.go_to_frame(0); });
    timer_.start(t.interval_ms);
}

void play_bar::tick() {
    const std::int32_t last = dlg_.frame_count() - 1;
    if (!dlg_.file_open() || dlg_.cur_frame() >= last) {
        set_playing(false);
        return;
    }
    run_([this] { dlg_.step_frames(frames_per_tick_); });
}

} // namespace serflash::ui::qt
