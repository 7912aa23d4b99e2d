// WidgetUtils: bold headings, centred captions, and where a detail dialog appears.
#include "views/widgetutils.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace ZovaZode::WidgetUtils {

namespace {

constexpr int kScreenMargin = 10;
constexpr int kBoldWeight = 75;

} // namespace

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    makeBold(label);
    return label;
}

void makeBold(QLabel *label)
{
    QFont font = label->font();
    font.setWeight(kBoldWeight);
    label->setFont(font);
}

QLabel *centredCaption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

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

} // namespace ZovaZode::WidgetUtils
