#include "ui/qt/review_widgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <cmath>

namespace serflash::ui::qt {

QImage to_image(const std::vector<std::uint32_t>& pixels, int width, int height) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return {};
    return QImage(reinterpret_cast<const uchar*>(pixels.data()), width, height, width * 4, QImage::Format_RGB32).copy();
}

namespace {
constexpr double zoom_per_notch = 1.25;
}

picture_view::picture_view(QWidget* parent) : QWidget(parent) {
    setMinimumSize(120, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::ClickFocus);
}

QRectF picture_view::image_rect() const {
    const picture_rect r = place_picture(image_.width(), image_.height(), width(), height(), zoom_);
    return {r.x, r.y, r.w, r.h};
}

void picture_view::zoom_about(double factor, QPointF at) {
    zoom_ = zoom_picture_about(image_.width(), image_.height(), width(), height(), zoom_, factor, at.x(), at.y());
    update();
}

void picture_view::reset_zoom() {
    zoom_ = {};
    update();
}

void picture_view::wheelEvent(QWheelEvent* event) {
    wheel_rest_ += event->angleDelta().y();
    const int notches = wheel_rest_ / 120;
    wheel_rest_ -= notches * 120;
    if (notches != 0) {
        if (event->modifiers() & Qt::ControlModifier)
            zoom_about(std::pow(zoom_per_notch, notches), event->position());
        else
            emit wheel_steps(-notches);
    }
    event->accept();
}

void picture_view::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
        drag_from_ = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
}

void picture_view::mouseMoveEvent(QMouseEvent* event) {
    if (!drag_from_) return;
    const QPointF d = event->position() - *drag_from_;
    drag_from_ = event->position();
    zoom_ = pan_picture(image_.width(), image_.height(), width(), height(), zoom_, d.x(), d.y());
    update();
}

void picture_view::mouseReleaseEvent(QMouseEvent*) {
    drag_from_.reset();
    unsetCursor();
}

void picture_view::mouseDoubleClickEvent(QMouseEvent*) { reset_zoom(); }

void picture_view::keyPressEvent(QKeyEvent* event) {
    const QPointF centre(width() / 2.0, height() / 2.0);
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoom_about(zoom_per_notch, centre);
            return;
        case Qt::Key_Minus:
            zoom_about(1.0 / zoom_per_notch, centre);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void picture_view::show_image(QImage image, QRect box, QString note) {
    if (image.size() != image_.size()) zoom_ = {};
    image_ = std::move(image);
    box_ = box;
    note_ = std::move(note);
    update();
}

void picture_view::set_overlay(std::vector<std::vector<QPointF>> lines) {
    overlay_ = std::move(lines);
    update();
}

void picture_view::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().dark());
    if (image_.isNull()) {
        p.setPen(palette().brightText().color());
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, note_);
        return;
    }
    const QRectF target = image_rect();
    p.setRenderHint(QPainter::SmoothPixmapTransform, !sharp_);
    p.drawImage(target, image_);
    const double sx = static_cast<double>(target.width()) / image_.width();
    const double sy = static_cast<double>(target.height()) / image_.height();
    if (!overlay_.empty()) {
        p.save();
        p.setClipRect(target);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(60, 200, 90, 200), 1));
        for (const auto& line : overlay_) {
            QPolygonF poly;
            for (const QPointF& q : line)
                poly << QPointF(target.left() + (q.x() + 0.5) * sx, target.top() + (q.y() + 0.5) * sy);
            p.drawPolyline(poly);
        }
        p.restore();
    }
    if (box_.isValid()) {
        const QRectF b(target.left() + box_.left() * sx, target.top() + box_.top() * sy, box_.width() * sx,
                       box_.height() * sy);
        p.setPen(QPen(QColor(255, 64, 64), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(b.adjusted(-2, -2, 2, 2));
    }
    QString note = note_;
    if (zoom_.zoom > 1.0)
        note += QStringLiteral("%1zoom x%2").arg(note.isEmpty() ? "" : "  ").arg(zoom_.zoom, 0, 'f', 1);
    if (!note.isEmpty()) {
        p.setPen(QColor(255, 255, 160));
        p.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, note);
    }
}

light_curve_view::light_curve_view(QWidget* parent) : QWidget(parent) {
    setMinimumSize(240, 170);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void light_curve_view::show_curve(const light_curve& curve, std::int32_t peak_frame, std::int32_t shown_frame) {
    curve_ = curve;
    peak_frame_ = peak_frame;
    shown_frame_ = shown_frame;
    update();
}

void light_curve_view::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QColor text = palette().text().color();
    const QColor grid = palette().mid().color();
    const QColor shown_colour(80, 140, 255), peak_colour(220, 40, 40);
    p.setPen(text);
    const QFontMetrics fm = fontMetrics();
    const int text_h = fm.height();
    p.drawText(QRect(4, 2, width() - 8, text_h), Qt::AlignLeft,
               curve_.excess.empty() ? QStringLiteral("No light curve")
                                     : QStringLiteral("Light curve: excess over the mean (samples) by frame"));
    if (curve_.excess.empty()) return;

    // Room for the values up the side, the frame numbers and the legend below.
    int label_w = fm.horizontalAdvance(QStringLiteral("-0000"));
    const QRectF plot_area(label_w + 8, text_h + 6, width() - label_w - 16, height() - 3 * text_h - 14);
    if (plot_area.width() < 20 || plot_area.height() < 20) return;
    const curve_plot plot = plot_light_curve(curve_, peak_frame_, plot_area.width(), plot_area.height());
    const auto at = [&plot_area](double x, double y) { return QPointF(plot_area.left() + x, plot_area.top() + y); };

    p.setPen(QPen(grid, 1, Qt::DotLine));
    for (const auto& [value, y] : plot.y_ticks) {
        p.drawLine(at(0, y), at(plot_area.width(), y));
        p.setPen(text);
        p.drawText(QRectF(0, plot_area.top() + y - text_h / 2.0, label_w + 4, text_h),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(value, 'g', 6));
        p.setPen(QPen(grid, 1, Qt::DotLine));
    }
    p.setPen(text);
    for (const auto& [frame, x] : plot.x_ticks) {
        p.drawLine(at(x, plot_area.height()), at(x, plot_area.height() + 3));
        const QString label = QString::number(frame);
        const double half = fm.horizontalAdvance(label) / 2.0;
        p.drawText(QPointF(plot_area.left() + x - half, plot_area.bottom() + 4 + fm.ascent()), label);
    }
    p.setPen(QPen(grid, 1));
    p.drawRect(plot_area);

    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(grid, 1));
    p.drawLine(at(0, plot.zero_y), at(plot_area.width(), plot.zero_y));
    p.setPen(QPen(grid, 1, Qt::DashLine));
    p.drawLine(at(0, plot.sigma_y), at(plot_area.width(), plot.sigma_y));
    const std::int64_t shown = std::int64_t{shown_frame_} - curve_.first_frame;
    if (shown >= 0 && static_cast<std::size_t>(shown) < plot.points.size()) {
        p.setPen(QPen(shown_colour, 1));
        const double sx = plot.points[static_cast<std::size_t>(shown)].first;
        p.drawLine(at(sx, 0), at(sx, plot_area.height()));
    }
    QPainterPath path;
    bool gap = true; // values the file does not hold break the line
    for (const auto& [x, y] : plot.points) {
        if (!std::isfinite(y)) {
            gap = true;
            continue;
        }
        if (gap)
            path.moveTo(at(x, y));
        else
            path.lineTo(at(x, y));
        gap = false;
    }
    p.setPen(QPen(text, 1.5));
    p.drawPath(path);
    const auto peak = static_cast<std::size_t>(std::int64_t{peak_frame_} - curve_.first_frame);
    if (plot.peak_x >= 0 && std::isfinite(plot.points[peak].second)) {
        p.setPen(QPen(peak_colour, 2));
        p.drawEllipse(at(plot.peak_x, plot.points[peak].second), 3, 3);
    }

    // The legend, one line under the frame numbers.
    p.setRenderHint(QPainter::Antialiasing, false);
    double x = plot_area.left();
    const double y = plot_area.bottom() + text_h + 8 + text_h / 2.0;
    const auto entry = [&](const QPen& pen, bool dot, const QString& label) {
        p.setPen(pen);
        if (dot)
            p.drawEllipse(QPointF(x + 9, y), 3, 3);
        else
            p.drawLine(QPointF(x, y), QPointF(x + 18, y));
        p.setPen(text);
        p.drawText(QPointF(x + 22, y - text_h / 2.0 + fm.ascent()), label);
        x += 22 + fm.horizontalAdvance(label) + 14;
    };
    entry(QPen(text, 1.5), false, QStringLiteral("excess"));
    entry(QPen(grid, 1, Qt::DashLine), false, QStringLiteral("1 sigma (%1)").arg(curve_.sigma, 0, 'g', 4));
    entry(QPen(peak_colour, 2), true, QStringLiteral("peak"));
    entry(QPen(shown_colour, 1), false, QStringLiteral("frame shown"));
}

} // namespace serflash::ui::qt
