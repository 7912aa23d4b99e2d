// Reading a transfer's destination back through the card data library.
#include "domain/verification.h"

#include <QFile>

#include <cstring>
#include <exception>

namespace ZovaZode {

namespace {

struct ProgressContext
{
    const VerifyProgress *progress;
    std::exception_ptr failure;
};

int forwardProgress(int32_t song, int32_t songCount, int32_t done, int32_t total, void *context)
{
    auto *forward = static_cast<ProgressContext *>(context);
    // The library is not built to unwind; a throwing callable stops the reading instead.
    try {
        return (*forward->progress)(song, songCount, done, total) ? 1 : 0;
    } catch (...) {
        forward->failure = std::current_exception();
        return 1;
    }
}

} // namespace

VerifyOutcome verifyWrittenFile(const QString &path, const carddata::WriteDigest &digest,
                                const carddata::WrittenLayout &layout, int songCount,
                                const VerifyProgress &progress, std::string *failure,
                                carddata::FileSummer *sums)
{
    ProgressContext context{&progress, nullptr};
    const CardProgressCallback callback{&forwardProgress, &context};
    const int result = mlsdVerifyWrites(QFile::encodeName(path).constData(), digest, layout, songCount,
                                        progress ? &callback : nullptr, sums);
    if (context.failure)
        std::rethrow_exception(context.failure);
    if (result == 0)
        return VerifyOutcome::Verified;
    std::string text = mlsdGetErrorString();
    static const char prefix[] = "mlsdVerifyWrites: ";
    if (text.compare(0, std::strlen(prefix), prefix) == 0)
        text.erase(0, std::strlen(prefix));
    if (text == "Aborted by user.")
        return VerifyOutcome::Stopped;
    if (failure)
        *failure = "Verification failed: " + text;
    return VerifyOutcome::Failed;
}

} // namespace ZovaZode
