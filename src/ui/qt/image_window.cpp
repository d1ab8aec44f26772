#include "ui/qt/image_window.h"

#include "ui/main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace serflash::ui::qt {
namespace {

// Pointer positions arrive as signed 16-bit pairs, as the window system packs them.
view_point to_view_point(const QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    return {static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.x()) & 0xFFFFU)),
            static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(p.y()) & 0xFFFFU))};
}

constexpr int page_frames = 50;

} // namespace

frame_key frame_key_for(int key) {
    switch (key) {
        case Qt::Key_Right:
        case Qt::Key_Down:
            return {frame_key::step, 1};
        case Qt::Key_Left:
        case Qt::Key_Up:
            return {frame_key::step, -1};
        case Qt::Key_PageDown:
            return {frame_key::step, page_frames};
        case Qt::Key_PageUp:
            return {frame_key::step, -page_frames};
        case Qt::Key_Home:
            return {frame_key::first};
        case Qt::Key_End:
            return {frame_key::last};
        case Qt::Key_P:
            return {frame_key::play};
        default:
            return {};
    }
}

image_canvas::image_canvas(main_dialog& dlg, logic_runner run, int client_w, int client_h)
    : dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("image_canvas"));
    setFixedSize(client_w, client_h);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void image_canvas::paintEvent(QPaintEvent* event) {
    // Only the part to be painted is composed: at 400% the whole frame would be large.
    const QRect r = event->rect();
    const client_region region = dlg_.view.clip({r.x(), r.y(), r.width(), r.height()});
    const std::vector<std::uint32_t> pixels = dlg_.view.compose(dlg_.display(), region);
    if (pixels.empty()) return;
    const QImage image(reinterpret_cast<const uchar*>(pixels.data()), region.w, region.h, region.w * 4,
                       QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(region.x, region.y, image);
}

void image_canvas::mouseMoveEvent(QMouseEvent* event) { dlg_.image_mouse_move(to_view_point(event)); }

void image_canvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) dlg_.image_right_down(to_view_point(event));
}

void image_canvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) return;
    dlg_.image_right_up(to_view_point(event));
    if (!dlg_.view.dragging()) unsetCursor();
}

void image_canvas::wheelEvent(QWheelEvent* event) {
    // One notch (120) is one frame; rolling towards the user moves forward.
    wheel_rest_ += event->angleDelta().y();
    const int notches = wheel_rest_ / 120;
    wheel_rest_ -= notches * 120;
    if (notches != 0) run_([&] { dlg_.step_frames(-notches); });
    event->accept();
}

image_window::image_window(main_dialog& dlg, logic_runner run, int client_w, int client_h)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), dlg_(dlg), run_(std::move(run)) {
    setObjectName(QStringLiteral("image_window"));
    setWindowTitle(QStringLiteral("SER movie frame"));
    setFocusPolicy(Qt::StrongFocus);

    strip_ = new QWidget;
    auto* strip_row = new QHBoxLayout(strip_);
    strip_row->setContentsMargins(4, 2, 4, 2);
    auto_levels_ = new QCheckBox(QStringLiteral("Auto levels"));
    auto_levels_->setObjectName(QStringLiteral("check_auto_levels"));
    auto_levels_->setToolTip(
        QStringLiteral("Stretch the shown frame between the darkest and brightest samples "
                       "(0.5 and 99.8 percentiles). Off: the row's Brt, as the snapshots."));
    auto_levels_->setChecked(dlg_.auto_levels());
    auto_levels_->setFocusPolicy(Qt::NoFocus);
    connect(auto_levels_, &QCheckBox::toggled, this, [this](bool on) {
        run_([&] { dlg_.set_auto_levels(on); });
        refresh();
    });
    auto* brt = new QPushButton(QStringLiteral("Brt from levels"));
    brt->setObjectName(QStringLiteral("button_brt_from_levels"));
    brt->setToolTip(
        QStringLiteral("Set this file's Brt so that the frame's bright level shows white, "
                       "in the window and in the snapshots."));
    brt->setFocusPolicy(Qt::NoFocus);
    brt->setAutoDefault(false);
    connect(brt, &QPushButton::clicked, this, [this] {
        run_([&] { dlg_.brightness_from_levels(); });
        refresh();
    });
    levels_ = new QLabel;
    levels_->setObjectName(QStringLiteral("levels_text"));
    levels_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    strip_row->addWidget(auto_levels_);
    strip_row->addWidget(brt);
    strip_row->addWidget(levels_, 1);

    histogram_ = new histogram_view(dlg_, run_);
    player_ = new play_bar(dlg_, run_);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("frame_status"));
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setContentsMargins(6, 0, 6, 2);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    canvas_ = new image_canvas(dlg_, run_, client_w, client_h);
    canvas_->installEventFilter(this);
    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("image_scroll"));
    scroll_->setWidget(canvas_);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->viewport()->installEventFilter(this);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addWidget(strip_);
    v->addWidget(histogram_);
    v->addWidget(scroll_, 1);
    v->addWidget(player_);
    v->addWidget(status_);
    resize(whole_size());
    refresh();
}

QSize image_window::whole_size() const {
    const int chrome = strip_->sizeHint().height() + histogram_->height() + player_->sizeHint().height() +
                       status_->sizeHint().height();
    // Never narrower than the window's own least width, so it keeps the size it is placed at.
    return {std::max(canvas_->width(), layout()->minimumSize().width()), canvas_->height() + chrome};
}

void image_window::set_caption(const QString& caption) {
    caption_ = caption;
    refresh();
}

void image_window::refresh() {
    const QSize client(dlg_.view.client_w(), dlg_.view.client_h());
    if (canvas_->size() != client) canvas_->setFixedSize(client);
    canvas_->update();
    {
        const QSignalBlocker quiet(auto_levels_);
        auto_levels_->setChecked(dlg_.auto_levels());
    }
    levels_->setText(QString::fromStdString(dlg_.levels_text()));
    histogram_->refresh();
    player_->refresh();
    status_->setText(QString::fromStdString(dlg_.frame_status()));
    if (!caption_.isEmpty())
        setWindowTitle(dlg_.file_open() ? QStringLiteral("%1 - frame %2").arg(caption_).arg(dlg_.cur_frame())
                                        : caption_);
}

void image_window::zoom_at(int steps, QPoint at) {
    const view_scale from = dlg_.view.scale();
    QScrollBar* h = scroll_->horizontalScrollBar();
    QScrollBar* v = scroll_->verticalScrollBar();
    const int sx = h->value(), sy = v->value();
    bool changed = false;
    run_([&] { changed = dlg_.zoom_steps(steps); });
    if (!changed) return;
    refresh();
    const view_scale to = dlg_.view.scale();
    h->setValue(scroll_after_zoom(sx, at.x(), from, to));
    v->setValue(scroll_after_zoom(sy, at.y(), from, to));
}

bool image_window::pan_event(QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->globalPosition().toPoint();
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse->button() == Qt::MiddleButton || (mouse->button() == Qt::LeftButton && space_held_)) {
                pan_from_ = at;
                canvas_->setCursor(Qt::ClosedHandCursor);
                return true;
            }
            return false;
        case QEvent::MouseMove:
            if (!pan_from_) return false;
            scroll_->horizontalScrollBar()->setValue(scroll_->horizontalScrollBar()->value() -
                                                     (at.x() - pan_from_->x()));
            scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->value() - (at.y() - pan_from_->y()));
            pan_from_ = at;
            dlg_.image_mouse_move(to_view_point(mouse)); // the read-out follows the pointer
            return true;
        case QEvent::MouseButtonRelease:
            if (!pan_from_ || mouse->button() == Qt::RightButton) return false;
            pan_from_.reset();
            canvas_->unsetCursor();
            return true;
        default:
            return false;
    }
}

bool image_window::eventFilter(QObject* watched, QEvent* event) {
    if (watched == canvas_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseMove:
            case QEvent::MouseButtonRelease:
                return pan_event(event);
            case QEvent::Wheel: {
                auto* wheel = static_cast<QWheelEvent*>(event);
                if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
                const int notches = wheel->angleDelta().y() / 120;
                const QPoint at = canvas_->mapTo(scroll_->viewport(), wheel->position().toPoint());
                if (notches != 0) zoom_at(notches, at);
                return true;
            }
            default:
                return false;
        }
    }
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        const QSize room = scroll_->viewport()->size();
        bool changed = false;
        run_([&] { changed = dlg_.image_room(room.width(), room.height()); });
        if (changed) refresh();
    }
    return false;
}

void image_window::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        space_held_ = true;
        return;
    }
    const frame_key k = frame_key_for(event->key());
    switch (k.what) {
        case frame_key::step:
            run_([&] { dlg_.step_frames(k.frames); });
            break;
        case frame_key::first:
            run_([&] { dlg_.go_to_frame(0); });
            break;
        case frame_key::last:
            run_([&] { dlg_.go_to_frame(dlg_.frame_count() - 1); });
            break;
        case frame_key::play:
            player_->set_playing(!player_->playing());
            break;
        case frame_key::none:
            QWidget::keyPressEvent(event);
            return;
    }
    refresh();
}

void image_window::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) space_held_ = false;
    QWidget::keyReleaseEvent(event);
}

void image_window::closeEvent(QCloseEvent* event) {
    // The window goes with its file or with the panel, never on its own.
    if (event->spontaneous()) event->ignore();
}

} // namespace serflash::ui::qt
