// ModalEventFilter: which events reach which windows while a transfer runs.
#include "views/modaleventfilter.h"

#include <QApplication>
#include <QEvent>
#include <QWindow>

namespace ZovaZode {

namespace {

QWindow *windowOf(QObject *object)
{
    if (object->isWindowType())
        return static_cast<QWindow *>(object);
    if (object->isWidgetType())
        return static_cast<QWidget *>(object)->window()->windowHandle();
    return nullptr;
}

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
    case QEvent::Shortcut:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
        return true;
    default:
        return false;
    }
}

} // namespace

ModalEventFilter::ModalEventFilter(QWidget *allowed, QObject *parent) : QObject(parent), m_allowed(allowed) {}

ModalEventFilter::~ModalEventFilter()
{
    remove();
}

void ModalEventFilter::allow(QObject *action)
{
    m_allowedActions.append(action);
}

void ModalEventFilter::install()
{
    if (m_installed || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->installEventFilter(this);
    m_installed = true;
}

void ModalEventFilter::remove()
{
    if (!m_installed)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    m_installed = false;
}

bool ModalEventFilter::eventFilter(QObject *watched, QEvent *event)
{
    // An object without a window (a shortcut, an action) never counts as the allowed window.
    QWindow *window = watched ? windowOf(watched) : nullptr;
    QWindow *allowed = m_allowed ? m_allowed->window()->windowHandle() : nullptr;
    const QWidget *modal = QApplication::activeModalWidget();
    if (window && (window == allowed || (modal && window == modal->window()->windowHandle())))
        return false;
    if (event->type() == QEvent::Shortcut && m_allowedActions.contains(QPointer<QObject>(watched)))
        return false;
    if (isUserInput(event->type()))
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace ZovaZode
