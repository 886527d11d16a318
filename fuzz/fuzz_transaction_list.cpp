// The transaction-list answer on any response text: the kind is decided by the
// documented prefixes, entries come from complete records only, and a list
// written back in the answer's format reads back the same.
#include "FuzzSupport.h"
#include "ServiceExchange.h"
#include "ServiceRules.h"

namespace {

const QString crlf = QStringLiteral("\r\n");

QString listText(const QList<TransactionEntry>& entries)
{
    QString text;
    for (const TransactionEntry& entry : entries)
        text += QString::number(entry.id) + QStringLiteral(";;") + entry.name + crlf;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // As the exchange hands the answer over: code-page text, spaces trimmed.
    const QString response = trimSpaces(fuzz::codePageText(data, size));
    const TransactionList list = parseTransactionList(response);

    if (response.startsWith(QStringLiteral("Error:"))) {
        FUZZ_CHECK(list.kind == TransactionList::Kind::Refused);
        FUZZ_CHECK(list.message == response && list.entries.isEmpty());
        return 0;
    }
    if (response == u"0") {
        FUZZ_CHECK(list.kind == TransactionList::Kind::NoTransactions && list.entries.isEmpty());
        return 0;
    }
    FUZZ_CHECK(list.kind == TransactionList::Kind::Entries);
    FUZZ_CHECK(list.entries.size() <= response.count(crlf));
    for (const TransactionEntry& entry : list.entries)
        FUZZ_CHECK(!entry.name.contains(crlf) && !entry.name.contains(QStringLiteral(";;")));

    const TransactionList again = parseTransactionList(listText(list.entries));
    FUZZ_CHECK(again.kind == TransactionList::Kind::Entries);
    FUZZ_CHECK(again.entries == list.entries);
    return 0;
}
