// CardName: telling a click that edits the name from a double click that opens the details.
#include "views/cardname.h"

#include <QApplication>
#include <QMouseEvent>

namespace ZovaZode {

namespace {

constexpr int kEditDelayAfterDoubleClick = 50;

} // namespace

CardName::CardName(QWidget *parent) : QLabel(parent), m_editTimer(this)
{
    m_editTimer.setSingleShot(true);
    m_editTimer.setInterval(QApplication::doubleClickInterval() + kEditDelayAfterDoubleClick);
    connect(&m_editTimer, &QTimer::timeout, this, &CardName::editRequest);
}

void CardName::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (m_swallowRelease) {
        m_swallowRelease = false;
        event->ignore();
        return;
    }
    m_editTimer.start();
}

void CardName::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_editTimer.stop();
    if (event->button() == Qt::LeftButton)
        m_swallowRelease = true;
    event->ignore();
}

} // namespace ZovaZode
