// The one base of the domain's exceptions (SdCard::Error, SongArchive::Error): a failure of the
// card data library or of a rule, carried as one 8-bit message. Callers catch them, log them and
// turn them into a message box, a false result or an error report; none crosses an event loop,
// a destructor or a thread.
#pragma once

#include <QString>

#include <exception>
#include <string>

namespace ZovaZode {

class Error : public std::exception
{
public:
    explicit Error(std::string message) : m_message(std::move(message)) {}
    const char *what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// A message of the card data library for its reader: without the names of the library's functions
// ("mlsdOpenSDCard: "), which say nothing to a musician and which only the log keeps.
QString userText(const QString &message);

} // namespace ZovaZode
