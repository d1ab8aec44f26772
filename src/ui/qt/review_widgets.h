#pragma once
// The painted parts of the "Candidates" window: the frame with the candidate boxed, the
// zoomed cut-out and the light curve. They paint what they are given and compute nothing.
//
// The light curve is a painted widget rather than a Qt Charts view: it is one polyline of a
// few dozen values with two reference lines, and Qt Charts would be a further library for it.
#include "ui/review_view.h"
#include "ui/view_zoom.h"

#include <QImage>
#include <QLabel>
#include <QPointF>
#include <QWidget>

#include <optional>
#include <vector>

namespace serflash::ui::qt {

// A word-wrapped label that holds the height its text takes at its present width as its
// minimum, so that a layout squeezed for room never draws the widgets below over its lines.
class wrapping_label final : public QLabel {
public:
    explicit wrapping_label(QWidget* parent = nullptr) : QLabel(parent) { setWordWrap(true); }
    void set_wrapped_text(const QString& text) {
        setText(text);
        hold_height();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        hold_height();
    }

private:
    void hold_height() {
        const int needed = heightForWidth(width());
        if (needed > 0 && needed != minimumHeight()) setMinimumHeight(needed);
    }
};

// An image scaled to fit (aspect kept) with an optional box in image pixels. Ctrl+wheel (or
// + and -) zooms about the pointer, a drag pans, a double-click fits the whole image again;
// the plain wheel is passed on as frame steps.
class picture_view final : public QWidget {
    Q_OBJECT
public:
    explicit picture_view(QWidget* parent = nullptr);
    // A new image of the same size keeps the zoom; another size starts fitted.
    void show_image(QImage image, QRect box = {}, QString note = {});
    const QImage& image() const { return image_; }
    QRect box() const { return box_; }
    // Lines in image pixels drawn over the image (the Moon's grid); empty for none.
    void set_overlay(std::vector<std::vector<QPointF>> lines);
    const std::vector<std::vector<QPointF>>& overlay() const { return overlay_; }
    // Zoomed views paint each pixel as a square (no smoothing).
    void set_sharp(bool on) { sharp_ = on; }
    const picture_zoom& zoom() const { return zoom_; }
    void zoom_about(double factor, QPointF at);
    void reset_zoom();
    // Where the image lies in the widget now.
    QRectF image_rect() const;

signals:
    void wheel_steps(int frames);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage image_;
    QRect box_;
    std::vector<std::vector<QPointF>> overlay_;
    QString note_;
    bool sharp_ = false;
    picture_zoom zoom_;
    std::optional<QPointF> drag_from_;
    int wheel_rest_ = 0;
};

class light_curve_view final : public QWidget {
    Q_OBJECT
public:
    explicit light_curve_view(QWidget* parent = nullptr);
    void show_curve(const light_curve& curve, std::int32_t peak_frame, std::int32_t shown_frame);
    bool has_curve() const { return !curve_.excess.empty(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    light_curve curve_;
    std::int32_t peak_frame_ = 0;
    std::int32_t shown_frame_ = -1;
};

// 0xFFRRGGBB pixels as an image (copied).
QImage to_image(const std::vector<std::uint32_t>& pixels, int width, int height);

} // namespace serflash::ui::qt
