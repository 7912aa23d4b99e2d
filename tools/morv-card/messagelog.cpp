// MessageLog: the log handler of morv-card.
#include "messagelog.h"

#include <atomic>
#include <cstdio>

namespace ZovaZode {

namespace {

std::atomic<bool> g_verbose{false};

} // namespace

MessageLog::MessageLog(bool verbose)
{
    g_verbose = verbose;
    m_previous = qInstallMessageHandler(&MessageLog::handle);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(m_previous);
}

void MessageLog::handle(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_verbose) {
        const QByteArray line = message.toLocal8Bit() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
}

} // namespace ZovaZode
