// The commands of morv-card. Each one checks what it is given (files, slots, names, the
// user's confirmation) before it touches anything, then does its work through the same
// objects as the window: SdCard and SongArchive for short operations, a transfer request on
// the worker thread for archive, restore and song copies.
#pragma once

#include "commandline.h"

#include "transfer/songtransfer.h"

#include <QString>

#include <memory>

namespace ZovaZode {

class ConfigurationManager;

class CardTool
{
public:
    explicit CardTool(const CommandLine &line);
    ~CardTool();

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
    // The end of a finished transfer: its warnings on standard error, then `done` (with a
    // sentence when the read-back was skipped, naming `what` was not checked), or with --json
    // {"file", "verified", "warnings"}.
    void reportTransfer(const SongTransfer::Request &request, const QString &file, const QString &done,
                        const QString &what) const;

    // The card library whose "Safety Copies" folder takes the copies, with that folder made;
    // empty when no copy is wanted. Throws when the folder cannot be made.
    QString safetyLibrary();
    // Copies what is about to be overwritten (a whole card or one song) into `path` and prunes
    // the folder; throws, so that nothing is overwritten, when the copy fails.
    void makeSafetyCopy(const SongTransfer::Endpoint &source, const QString &path, const QString &library);
    // The window's settings, shared with it.
    ConfigurationManager &configuration();

    const CommandLine &m_line;
    std::unique_ptr<ConfigurationManager> m_configuration;
};

} // namespace ZovaZode
