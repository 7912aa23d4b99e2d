// Sizes as the window and morv-card show them: one unit everywhere, the megabyte of 10^6 bytes
// that file managers and card makers use, so that no two places give one file two sizes.
#pragma once

#include <QString>

namespace ZovaZode {

// "3.8 MB", "2539.2 MB": one decimal, no grouping.
QString megabytesText(qint64 bytes);

} // namespace ZovaZode
