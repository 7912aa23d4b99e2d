// The installed notifier and the fallback used while none is installed.
#include "domain/notifier.h"

#include <QDebug>

#include <atomic>

namespace ZovaZode {

namespace {

std::atomic<Notifier *> s_installed{nullptr};

} // namespace

Notifier::~Notifier() = default;

void Notifier::install(Notifier *notifier)
{
    s_installed.store(notifier);
}

Notifier *Notifier::installed()
{
    return s_installed.load();
}

Notifier::Button Notifier::notify(const Message &message)
{
    if (Notifier *notifier = installed())
        return notifier->show(message);

    qDebug() << "Notifier: no notifier installed:" << message.title << message.text;
    if (message.buttons.testFlag(No))
        return No;
    if (message.buttons.testFlag(Cancel))
        return Cancel;
    return Ok;
}

Notifier::Button Notifier::ask(QObject *parent, Icon icon, const QString &title, const QString &text,
                               Buttons buttons)
{
    Message message;
    message.icon = icon;
    message.title = title;
    message.text = text;
    message.buttons = buttons;
    message.parent = parent;
    return notify(message);
}

void Notifier::tell(QObject *parent, Icon icon, const QString &title, const QString &text)
{
    ask(parent, icon, title, text, Ok);
}

void Notifier::inform(QObject *parent, const QString &text)
{
    tell(parent, Icon::Information, QString(), text);
}

} // namespace ZovaZode
