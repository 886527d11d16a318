// The transaction import on any file content, into a step editor stand-in over
// a real step store: every input ends in the outcome that the document's step
// elements call for, and leaves a store that keeps its rules.
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

// The step editor as the import drives it: a selection whose change commits the
// fields into the current step and loads the selected one.
class EditorStandIn : public ImportTarget
{
public:
    StepStore store;
    bool recording = false;
    int selected = -1;
    StepSettings fields;
    QStringList messages;

    void checkRecording() override { recording = true; }
    void clearitems() override
    {
        store.clearitems();
        fields = {};
        selected = -1;
    }
    StepStore::AddResult addURL(const RecordedStep& s, bool reportFullStore) override
    {
        const auto result = store.add(s);
        if (result == StepStore::AddResult::StoreFull && reportFullStore)
            messages << StepStore::fullStoreMessage();
        return result;
    }
    void setEditorFields(const RecordedStep& v, const QString& rawPing) override
    {
        fields = {v.keywords, v.errors, v.cookies, v.httpuser, v.httppass, v.timeout, rawPing, v.label};
    }
    int listCount() const override { return store.count(); }
    void selectLine(int row) override
    {
        FUZZ_CHECK(row >= -1 && row < store.count());
        if (row == selected)
            return;
        selected = row;
        recordedItems_Click();
    }
    void recordedItems_Click() override
    {
        store.setSettings(store.currentStep(), fields);
        if (selected < 0 || selected >= store.count())
            return;
        store.setCurrentStep(selected);
        fields = store.settings(selected);
    }
    void showMessage(const QString& text) override { messages << text; }
};

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

    EditorStandIn target;
    RecordedStep before;
    before.url = QStringLiteral("http://before.test/");
    target.addURL(before, true);
    // The last byte decides whether duplicates are allowed, as the Options menu may have set.
    target.store.setAllowDuplicates(size > 0 && (data[size - 1] & 1) != 0);

    importTransactionFile(path, target);

    const QString openError = QStringLiteral("Error opening file ") + path;
    const QString storeFull = StepStore::fullStoreMessage();
    for (const QString& message : std::as_const(target.messages))
        FUZZ_CHECK(message == openError || message == noSteps || message == notAll ||
                   message == parserError || message == storeFull);
    FUZZ_CHECK(target.messages.count(storeFull) <= 1);

    // The outcome follows from the document as the XML parser reads it.
    pugi::xml_document document;
    const bool wellFormed = document.load_buffer(data, size);
    const std::size_t found = wellFormed ? document.select_nodes("/data/transaction/step").size() : 0;
    if (!wellFormed || found == 0) {
        FUZZ_CHECK(target.messages == QStringList{wellFormed ? noSteps : openError});
        // Nothing was imported: the store and the Recording box are as before.
        FUZZ_CHECK(!target.recording);
        FUZZ_CHECK(target.store.count() == 1 && target.store.at(0) == before);
        return 0;
    }
    FUZZ_CHECK(target.recording);
    FUZZ_CHECK(target.store.count() <= StepStore::capacity);
    FUZZ_CHECK(static_cast<std::size_t>(target.store.count()) <= found);
    for (const RecordedStep& step : target.store.steps())
        FUZZ_CHECK(StepStore::isWebAddress(step.url));
    if (!target.store.allowDuplicates())
        FUZZ_CHECK(!target.store.haveDuplicateURLs());

    QStringList messages = target.messages;
    messages.removeOne(storeFull);
    if (messages == QStringList{parserError})
        return 0; // a step element with too few children; the steps before it stay
    if (static_cast<std::size_t>(target.store.count()) == found) {
        FUZZ_CHECK(messages.isEmpty());
        FUZZ_CHECK(target.selected == target.store.count() - 2);
    } else {
        FUZZ_CHECK(messages == QStringList{notAll});
        FUZZ_CHECK(target.selected == target.store.count() - 1);
    }
    return 0;
}
