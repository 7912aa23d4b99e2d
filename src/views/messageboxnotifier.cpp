#include "views/messageboxnotifier.h"

#include <QMessageBox>
#include <QWidget>

namespace ZovaZode {
namespace {

QMessageBox::Icon boxIcon(Notifier::Icon icon)
{
    switch (icon) {
    case Notifier::Icon::Information:
        return QMessageBox::Information;
    case Notifier::Icon::Warning:
        return QMessageBox::Warning;
    case Notifier::Icon::Critical:
        return QMessageBox::Critical;
    case Notifier::Icon::Question:
        return QMessageBox::Question;
    case Notifier::Icon::NoIcon:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons boxButtons(Notifier::Buttons buttons)
{
    QMessageBox::StandardButtons result;
    if (buttons & Notifier::Ok)
        result |= QMessageBox::Ok;
    if (buttons & Notifier::Cancel)
        result |= QMessageBox::Cancel;
    if (buttons & Notifier::Yes)
        result |= QMessageBox::Yes;
    if (buttons & Notifier::No)
        result |= QMessageBox::No;
    return result ? result : QMessageBox::Ok;
}

} // namespace

Notifier::Button MessageBoxNotifier::show(const Message &message)
{
    QMessageBox box(boxIcon(message.icon), message.title, message.text, boxButtons(message.buttons),
                    qobject_cast<QWidget *>(message.parent));
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Ok;
    case QMessageBox::Cancel:
        return Cancel;
    case QMessageBox::Yes:
        return Yes;
    case QMessageBox::No:
        return No;
    default:
        // Escape or the window's close button: the answer that goes on with nothing.
        return message.buttons & No ? No : message.buttons & Cancel ? Cancel : Ok;
    }
}

} // namespace ZovaZode
