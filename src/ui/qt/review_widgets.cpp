#include "ui/qt/review_widgets.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace serflash::ui::qt {

QImage to_image(const std::vector<std::uint32_t>& pixels, int width, int height) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return {};
    return QImage(reinterpret_cast<const uchar*>(pixels.data()), width, height, width * 4, QImage::Format_RGB32).copy();
}

picture_view::picture_view(QWidget* parent) : QWidget(parent) {
    setMinimumSize(120, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void picture_view::show_image(QImage image, QRect box, QString note) {
    image_ = std::move(image);
    box_ = box;
    note_ = std::move(note);
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
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform, !sharp_);
    p.drawImage(target, image_);
    if (box_.isValid()) {
        const double sx = static_cast<double>(target.width()) / image_.width();
        const double sy = static_cast<double>(target.height()) / image_.height();
        const QRectF b(target.left() + box_.left() * sx, target.top() + box_.top() * sy, box_.width() * sx,
                       box_.height() * sy);
        p.setPen(QPen(QColor(255, 64, 64), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(b.adjusted(-2, -2, 2, 2));
    }
    if (!note_.isEmpty()) {
        p.setPen(QColor(255, 255, 160));
        p.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, note_);
    }
}

light_curve_view::light_curve_view(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 110);
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
    p.setPen(palette().text().color());
    const int text_h = fontMetrics().height();
    p.drawText(QRect(4, 2, width() - 8, text_h), Qt::AlignLeft,
               curve_.excess.empty() ? QStringLiteral("No light curve")
                                     : QStringLiteral("Light curve: excess over the mean, frames %1 to %2")
                                           .arg(curve_.first_frame)
                                           .arg(curve_.first_frame + static_cast<int>(curve_.excess.size()) - 1));
    if (curve_.excess.empty()) return;
    const QRectF plot_area(8, text_h + 6, width() - 16, height() - text_h - 12);
    const curve_plot plot = plot_light_curve(curve_, peak_frame_, plot_area.width(), plot_area.height());
    const auto at = [&plot_area](double x, double y) { return QPointF(plot_area.left() + x, plot_area.top() + y); };
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().mid().color(), 1));
    p.drawLine(at(0, plot.zero_y), at(plot_area.width(), plot.zero_y));
    p.setPen(QPen(palette().mid().color(), 1, Qt::DashLine));
    p.drawLine(at(0, plot.sigma_y), at(plot_area.width(), plot.sigma_y));
    const std::int64_t shown = std::int64_t{shown_frame_} - curve_.first_frame;
    if (shown >= 0 && static_cast<std::size_t>(shown) < plot.points.size()) {
        p.setPen(QPen(QColor(80, 140, 255), 1));
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
    p.setPen(QPen(palette().text().color(), 1.5));
    p.drawPath(path);
    const auto peak = static_cast<std::size_t>(std::int64_t{peak_frame_} - curve_.first_frame);
    if (plot.peak_x >= 0 && std::isfinite(plot.points[peak].second)) {
        p.setPen(QPen(QColor(220, 40, 40), 2));
        p.drawEllipse(at(plot.peak_x, plot.points[peak].second), 3, 3);
    }
}

} // namespace serflash::ui::qt
