#pragma once
// The image window "SER movie frame": paints the pixels the panel logic composes and forwards
// pointer events to it. It has no close box and keeps a fixed size.
#include <QWidget>

namespace serflash::ui {
class main_dialog;
}

namespace serflash::ui::qt {

class image_window final : public QWidget {
    Q_OBJECT
public:
    image_window(main_dialog& dlg, int client_w, int client_h);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    main_dialog& dlg_;
};

} // namespace serflash::ui::qt
