// The transaction import on any file content, into a real step store: every
// input ends in the outcome that the document's step elements call for, and
// leaves a store that keeps its rules.
#include "FuzzSupport.h"
#include "TransactionImport.h"

#include <QFile>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString noSteps = QStringLiteral("No steps found");
const QString notAll = QStringLiteral("Some steps were not imported to avoid duplicates");
const QString parserError = QStringLiteral(
    "Cannot initialize XML parser. Please check if you have MSXML6.0 installed and registered correctly.");

bool writeFile(const QString& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0 && written == size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.filePath(QStringLiteral("transaction.xml"));
    FUZZ_CHECK(writeFile(path, data, size));

    StepStore store;
    RecordedStep before;
    before.url = QStringLiteral("http://before.test/");
    store.add(before);
    // The last byte decides whether duplicates are allowed, as the Options menu may have set.
    store.setAllowDuplicates(size > 0 && (data[size - 1] & 1) != 0);

    const TransactionImport result = importTransactionFile(path, store);
    QStringList messages;
    for (const TransactionImport::Message& m : result.messages)
        messages << (m.storeFull ? StepStore::fullStoreMessage() : m.text);

    const QString openError = QStringLiteral("Error opening file ") + path;
    const QString storeFull = StepStore::fullStoreMessage();
    for (const QString& message : std::as_const(messages))
        FUZZ_CHECK(message == openError || message == noSteps || message == notAll ||
                   message == parserError || message == storeFull);
    FUZZ_CHECK(messages.count(storeFull) <= 1);

    // The outcome follows from the document as the XML parser reads it.
    pugi::xml_document document;
    const bool wellFormed = document.load_buffer(data, size);
    const std::size_t found = wellFormed ? document.select_nodes("/data/transaction/step").size() : 0;
    if (!wellFormed || found == 0) {
        FUZZ_CHECK(messages == QStringList{wellFormed ? noSteps : openError});
        // Nothing was imported: the store and the Recording box are as before.
        FUZZ_CHECK(!result.recording && !result.selectLine);
        FUZZ_CHECK(store.count() == 1 && store.at(0) == before);
        return 0;
    }
    FUZZ_CHECK(result.recording);
    FUZZ_CHECK(store.count() <= StepStore::capacity);
    FUZZ_CHECK(static_cast<std::size_t>(store.count()) <= found);
    for (const RecordedStep& step : store.steps())
        FUZZ_CHECK(StepStore::isWebAddress(step.url));
    if (!store.allowDuplicates())
        FUZZ_CHECK(!store.haveDuplicateURLs());

    messages.removeOne(storeFull);
    if (messages == QStringList{parserError}) {
        FUZZ_CHECK(!result.selectLine); // a step element with too few children; the steps before it stay
        return 0;
    }
    FUZZ_CHECK(result.selectLine && *result.selectLine >= -1 && *result.selectLine < store.count());
    if (static_cast<std::size_t>(store.count()) == found) {
        FUZZ_CHECK(messages.isEmpty());
        FUZZ_CHECK(*result.selectLine == store.count() - 2);
    } else {
        FUZZ_CHECK(messages == QStringList{notAll});
        FUZZ_CHECK(*result.selectLine == store.count() - 1);
    }
    return 0;
}
