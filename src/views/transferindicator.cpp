// TransferIndicator: a press anywhere on the panel, its children included, is one signal.
#include "views/transferindicator.h"

#include <QEvent>

namespace ZovaZode {

TransferIndicator::TransferIndicator(QWidget *parent) : QWidget(parent) {}

bool TransferIndicator::event(QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        event->accept();
        emit pressed();
        return true;
    }
    return QWidget::event(event);
}

} // namespace ZovaZode
