#include "TransactionImport.h"

#include "CodePage.h"
#include "Encodings.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <pugixml.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

namespace {

// Child positions inside a step element.
enum Child
{
    idChild = 0,
    urlChild = 1,
    keywordsChild = 3,
    errorsChild = 4,
    timeoutChild = 5,
    pingChild = 6,
    postdataChild = 7,
    cookiesChild = 8,
    httpuserChild = 9,
    httppassChild = 10,
    labelChild = 11,
    childCount = 12
};

QString noStepsMessage()
{
    return QStringLiteral("No steps found");
}

QString notAllStepsMessage()
{
    return QStringLiteral("Some steps were not imported to avoid duplicates");
}

QString parserErrorMessage()
{
    return QStringLiteral("Cannot initialize XML parser. Please check if you have MSXML6.0 installed and "
                          "registered correctly.");
}

bool isAscii(QByteArrayView bytes)
{
    // Eight bytes at a time: the fields of a large file are megabytes of text.
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    std::uint64_t any = 0;
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        any |= word;
    }
    for (; p < end; ++p)
        any |= static_cast<unsigned char>(*p);
    return (any & 0x8080808080808080u) == 0;
}

// The document carries no encoding of its own: files written by the program hold
// code-page bytes (the unencoded user name, key, timeout and ping), hand-edited
// ones usually UTF-8. Text that is valid UTF-8 is read as such, anything else
// byte by byte in the code page, so the program's own files read back exactly.
QString toText(const char* data, qsizetype size)
{
    const QByteArrayView bytes(data, size);
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return codepage::fromAnsi(bytes.toByteArray());
}

bool isCharacterData(const pugi::xml_node& node)
{
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// A node's text content: its own value for character data, all descendant
// character data in document order for an element. Walks the tree without
// recursion, so any depth of nesting is safe.
QString textContent(const pugi::xml_node& node)
{
    if (isCharacterData(node))
        return toText(node.value(), static_cast<qsizetype>(std::char_traits<char>::length(node.value())));

    std::string collected;
    pugi::xml_node current = node.first_child();
    while (current) {
        if (isCharacterData(current))
            collected += current.value();
        if (pugi::xml_node child = current.first_child()) {
            current = child;
            continue;
        }
        while (current != node && !current.next_sibling())
            current = current.parent();
        if (current == node)
            break;
        current = current.next_sibling();
    }
    return toText(collected.data(), static_cast<qsizetype>(collected.size()));
}

// A child's text, percent-decoded. The program's own files hold only ASCII in
// the encoded fields: that text is decoded straight from the parser's bytes.
QString decodedContent(const pugi::xml_node& node)
{
    const pugi::xml_node text = node.first_child();
    if (isCharacterData(text) && !text.next_sibling()) {
        const char* value = text.value();
        const auto size = static_cast<qsizetype>(std::char_traits<char>::length(value));
        if (isAscii(QByteArrayView(value, size)))
            return URLDecode(QLatin1StringView(value, size));
    }
    return URLDecode(textContent(node));
}

// The first twelve children of a step element; false when it has fewer.
bool stepChildren(const pugi::xml_node& step, std::array<pugi::xml_node, childCount>& children)
{
    std::size_t found = 0;
    for (pugi::xml_node child = step.first_child(); child && found < children.size();
         child = child.next_sibling())
        children[found++] = child;
    return found == children.size();
}

RecordedStep decodedValues(const std::array<pugi::xml_node, childCount>& children)
{
    const auto decoded = [&children](Child position) { return decodedContent(children[position]); };
    RecordedStep values;
    values.url = decoded(urlChild);
    values.postdata = decoded(postdataChild);
    values.keywords = decoded(keywordsChild);
    values.errors = decoded(errorsChild);
    values.cookies = decoded(cookiesChild);
    values.httpuser = decoded(httpuserChild);
    values.httppass = decoded(httppassChild);
    values.timeout = decoded(timeoutChild);
    values.ping = decoded(pingChild);
    values.label = decoded(labelChild);
    return values;
}

// Adds the steps and tells what the editor is to do; false when a step element
// lacks children. What was done before the failure stays done.
bool addSteps(const pugi::xpath_node_set& elements, StepStore& store, TransactionImport& result)
{
    result.recording = true;
    store.clearitems();

    // A file may hold any number of step elements; the store's limit message is
    // shown for the first one refused only, not once per element. Each element's
    // values replace the previous ones in the editor fields, so only the last
    // one's are kept. This keeps a file of a million elements quick.
    bool fullStoreReported = false;
    std::array<pugi::xml_node, childCount> children;
    for (const pugi::xpath_node& element : elements) {
        if (!stepChildren(element.node(), children))
            return false;
        const RecordedStep values = decodedValues(children);
        if (store.add(values) == StepStore::AddResult::StoreFull && !fullStoreReported) {
            fullStoreReported = true;
            result.messages.append({true, StepStore::fullStoreMessage()});
        }
        result.editorValues = values;
        result.editorRawPing = textContent(children[pingChild]);
    }

    const qsizetype found = static_cast<qsizetype>(elements.size());
    if (store.count() == found) {
        result.selectLine = static_cast<int>(found) - 2;
    } else {
        result.messages.append({false, notAllStepsMessage()});
        result.selectLine = store.count() - 1;
    }
    return true;
}

} // namespace

TransactionImport importTransactionFile(const QString& path, StepStore& store)
{
    TransactionImport result;
    // Only regular files: opening a pipe or a device could block or never end.
    const QFileInfo info(path);
    pugi::xml_document document;
    if (!info.isFile() || !document.load_file(QFile::encodeName(path).constData())) {
        result.messages.append({false, QStringLiteral("Error opening file ") + path});
        return result;
    }

    try {
        const pugi::xpath_node_set elements = document.select_nodes("/data/transaction/step");
        if (elements.empty()) {
            result.messages.append({false, noStepsMessage()});
            return result;
        }
        if (!addSteps(elements, store, result))
            result.messages.append({false, parserErrorMessage()});
    } catch (const std::exception&) {
        // Out of memory for a huge file: the import stops where it is.
        result.messages.append({false, parserErrorMessage()});
    }
    return result;
}
