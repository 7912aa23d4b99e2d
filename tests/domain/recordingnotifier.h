// A notifier for tests: it records every message box instead of showing it and answers from
// a list of prepared answers. It installs itself for its lifetime.
#pragma once

#include "domain/notifier.h"

#include <QList>
#include <QStringList>
#include <QVector>

namespace ZovaZode {

class RecordingNotifier : public Notifier
{
public:
    RecordingNotifier() { Notifier::install(this); }
    ~RecordingNotifier() override
    {
        if (Notifier::installed() == this)
            Notifier::install(nullptr);
    }

    RecordingNotifier(const RecordingNotifier &) = delete;
    RecordingNotifier &operator=(const RecordingNotifier &) = delete;

    // With no prepared answer left, the box is answered as if the user went back: No, else
    // Cancel, else Ok.
    Button show(const Message &message) override
    {
        m_messages.append(message);
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        if (message.buttons.testFlag(No))
            return No;
        if (message.buttons.testFlag(Cancel))
            return Cancel;
        return Ok;
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
