// A notifier for tests: it records every message box instead of showing it and answers as a
// cautious user would (No, else Cancel, else Ok). It installs itself for its lifetime.
#pragma once

#include "domain/notifier.h"

#include <QStringList>
#include <QVector>

namespace ZovaZode {

struct RecordingNotifier : Notifier
{
    RecordingNotifier() { Notifier::install(this); }
    ~RecordingNotifier() override { Notifier::install(nullptr); }
    Button show(const Message &message) override
    {
        m_messages.append(message);
        return message.buttons.testFlag(No) ? No : message.buttons.testFlag(Cancel) ? Cancel : Ok;
    }
    const QVector<Message> &messages() const { return m_messages; }
    QStringList texts() const
    {
        QStringList result;
        for (const Message &message : m_messages)
            result << message.text;
        return result;
    }

private:
    QVector<Message> m_messages;
};

} // namespace ZovaZode
