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

} // namespace ZovaZode
