// LogCapture: records every log message while it lives (and passes it on to the previous
// handler), so a test can check the exact log lines a component writes.
#pragma once

#include <QStringList>
#include <QtGlobal>

class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogCapture::record);
    }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static QStringList lines() { return s_lines; }
    static bool contains(const QString &text)
    {
        for (const QString &line : qAsConst(s_lines)) {
            if (line.contains(text))
                return true;
        }
        return false;
    }
    static void clear() { s_lines.clear(); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        s_lines << message;
        if (s_previous)
            s_previous(type, context, message);
    }

    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
