// The text of the domain error an operation throws; empty when it throws none.
#pragma once

#include "domain/error.h"

#include <QString>

#include <functional>

namespace ZovaZode {

inline QString errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const Error &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

} // namespace ZovaZode
