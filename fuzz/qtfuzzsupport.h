// What the fuzz targets over the Qt layers share: the rule that ends a run on a broken promise,
// and silence for the messages the code under test logs on every hostile input.
#pragma once

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace ZovaZode::Fuzz {

inline void require(bool condition, const char *promise)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

inline void silenceQtMessages()
{
    static const bool installed =
        (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
    (void)installed;
}

} // namespace ZovaZode::Fuzz
