// A notifier for tests: it records every message box instead of showing it and answers from a
// list of prepared answers, then as a cautious user would (No, else Cancel, else Ok). It installs
// itself for its lifetime.
#pragma once

#include "domain/notifier.h"

#include <QList>
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
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        return message.buttons.testFlag(No) ? No : message.buttons.testFlag(Cancel) ? Cancel : Ok;
    }
    void prepareAnswer(Button answer) { m_answers.append(answer); }
    const QVector<Message> &messages() const { return m_messages; }
    QStringList texts() const
    {
        QStringList result;
        for (const Message &message : m_messages)
            result << message.text;
        return result;
    }
    void clear() { m_messages.clear(); }

private:
    QVector<Message> m_messages;
    QList<Button> m_answers;
};

} // namespace ZovaZode
