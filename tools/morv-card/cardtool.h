// The commands of morv-card. Each one checks what it is given (files, slots, names, the
// user's confirmation) before it touches anything, then does its work through the same
// objects as the window: SdCard and SongArchive for short operations, a transfer request on
// the worker thread for archive, restore and song copies.
#pragma once

#include "commandline.h"

#include <QString>

namespace ZovaZode {

class CardTool
{
public:
    explicit CardTool(const CommandLine &line);

    // The exit status; failures are thrown as ToolError.
    int run();

private:
    int info();
    int archive();
    int restore();
    int exportSong();
    int importSong();
    int rename();
    int clear();
    int verify();
    int makeDemo();

    // Asks on a terminal; without one, --yes must have been given.
    void confirm(const QString &question) const;
    bool showProgress() const;
    void say(const QString &text) const;

    const CommandLine &m_line;
};

} // namespace ZovaZode
