// showCentred: where a detail dialog appears.
#include "views/showcentred.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ZovaZode {

namespace {

constexpr int kScreenMargin = 10;

} // namespace

void showCentred(QWidget *widget)
{
    if (!widget)
        return;
    QWidget *parent = widget->parentWidget();
    QScreen *screen = (parent ? parent : widget)->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();

    // A window that was never shown has no platform window yet, and so no frame; creating it
    // first makes the frame part of the placement.
    if (widget->isWindow())
        widget->winId();
    QRect frame = widget->frameGeometry();
    frame.moveCenter(parent ? parent->window()->frameGeometry().center() : available.center());

    if (!available.isNull()) {
        const int right = available.x() + available.width() - kScreenMargin;
        const int bottom = available.y() + available.height() - kScreenMargin;
        if (frame.x() + frame.width() > right)
            frame.moveLeft(right - frame.width());
        if (frame.y() + frame.height() > bottom)
            frame.moveTop(bottom - frame.height());
        // Top and left come last so that a dialog larger than the screen keeps its title bar
        // and its left edge reachable.
        if (frame.y() < available.y() + kScreenMargin)
            frame.moveTop(available.y() + kScreenMargin);
        if (frame.x() < available.x() + kScreenMargin)
            frame.moveLeft(available.x() + kScreenMargin);
    }

    widget->move(frame.topLeft());
    widget->show();
}

} // namespace ZovaZode
