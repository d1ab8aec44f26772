#pragma once
// The painted parts of the "Candidates" window: the frame with the candidate boxed, the
// zoomed cut-out and the light curve. They paint what they are given and compute nothing.
//
// The light curve is a painted widget rather than a Qt Charts view: it is one polyline of a
// few dozen values with two reference lines, and Qt Charts would be a further library for it.
#include "ui/review_view.h"

#include <QImage>
#include <QWidget>

namespace serflash::ui::qt {

// An image scaled to fit (aspect kept) with an optional box in image pixels.
class picture_view final : public QWidget {
    Q_OBJECT
public:
    explicit picture_view(QWidget* parent = nullptr);
    void show_image(QImage image, QRect box = {}, QString note = {});
    const QImage& image() const { return image_; }
    QRect box() const { return box_; }
    // Zoomed views paint each pixel as a square (no smoothing).
    void set_sharp(bool on) { sharp_ = on; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    QRect box_;
    QString note_;
    bool sharp_ = false;
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
