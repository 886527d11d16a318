// tallyro-standin-service: a local stand-in of the TallyroNet monitoring service.
//
//   tallyro-standin-service --port PORT --accounts FILE --store FOLDER
//                           [--answer-size BYTES] [--answer-slowly MS]
//
// Listens on 127.0.0.1:PORT (0 picks a free port) and prints
// "Listening on 127.0.0.1:PORT" once it accepts connections. It answers:
//   GET  /uploadtrans.php?username=U&key=K      the account's transactions
//   POST /uploadtrans.php[?fp=1|?trid=ID]        a transaction upload
//   POST /uploadtrans.php?report=problem         a problem report
// The accounts file holds lines "account USER KEY" and, after an account line,
// "transaction ID NAME" for that account's transactions; "#" starts a comment.
// Every upload and report is stored in a new numbered folder under FOLDER:
//   upload-N/recorder.xml, upload-N/target.txt ("performance", "fullpage" or "replace ID")
//   report-N/recorder.xml, report-N/name.txt, email.txt, user.txt, description.txt
// Two options make it answer as a misbehaving service does, to try how the
// recorder copes:
//   --answer-size BYTES   every request above is answered with an error text of
//                         exactly BYTES bytes instead, sent chunked (nothing is
//                         stored)
//   --answer-slowly MS    every answer is sent a few bytes at a time, MS
//                         milliseconds apart

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string expectedContentType = "multipart/form-data; boundary=--Xu02=$";
const char* const contentTypeAside = "X-Standin-Content-Type";
const std::string invalidAccount = "Error: Invalid username or key";

struct Transaction
{
    long id = 0;
    std::string name;
};

struct Account
{
    std::string key;
    std::vector<Transaction> transactions;
};

struct Part
{
    std::string name;
    std::string value;
};

bool readAccounts(const std::string& path, std::map<std::string, Account>& accounts, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the accounts file " + path;
        return false;
    }
    std::string line;
    Account* current = nullptr;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind) || kind.front() == '#')
            continue;
        if (kind == "account") {
            std::string user;
            std::string key;
            if (!(words >> user >> key)) {
                error = "line " + std::to_string(number) + ": account needs a user name and a key";
                return false;
            }
            current = &accounts[user];
            current->key = key;
        } else if (kind == "transaction" && current) {
            Transaction transaction;
            if (!(words >> transaction.id)) {
                error = "line " + std::to_string(number) + ": transaction needs a numeric id";
                return false;
            }
            std::getline(words >> std::ws, transaction.name);
            current->transactions.push_back(transaction);
        } else {
            error = "line " + std::to_string(number) + ": unknown entry \"" + kind + "\"";
            return false;
        }
    }
    return true;
}

// The body the recorder sends: each part opened by the delimiter line, its
// header lines, an empty line and the value ended by CR LF; the closing
// delimiter last, with nothing after it (a final line break is tolerated).
std::optional<std::vector<Part>> parseMultipart(const std::string& body)
{
    const std::string delimiter = "----Xu02=$";
    const std::string opening = delimiter + "\r\n";
    if (body.compare(0, opening.size(), opening) != 0)
        return std::nullopt;
    std::vector<Part> parts;
    size_t pos = opening.size();
    for (;;) {
        const size_t end = body.find("\r\n" + delimiter, pos);
        if (end == std::string::npos)
            return std::nullopt;
        const std::string raw = body.substr(pos, end - pos);
        const size_t headersEnd = raw.find("\r\n\r\n");
        if (headersEnd == std::string::npos)
            return std::nullopt;
        const std::string headers = raw.substr(0, headersEnd);
        const size_t nameAt = headers.find("name=\"");
        if (headers.rfind("Content-Disposition: form-data; ", 0) != 0 || nameAt == std::string::npos)
            return std::nullopt;
        const size_t nameEnd = headers.find('"', nameAt + 6);
        if (nameEnd == std::string::npos)
            return std::nullopt;
        parts.push_back({headers.substr(nameAt + 6, nameEnd - nameAt - 6), raw.substr(headersEnd + 4)});
        pos = end + 2 + delimiter.size();
        if (body.compare(pos, std::string::npos, "--") == 0 ||
            body.compare(pos, std::string::npos, "--\r\n") == 0)
            return parts;
        if (body.compare(pos, 2, "\r\n") != 0)
            return std::nullopt;
        pos += 2;
    }
}

const std::string* partValue(const std::vector<Part>& parts, const std::string& name)
{
    for (const Part& part : parts) {
        if (part.name == name)
            return &part.value;
    }
    return nullptr;
}

std::string element(const std::string& xml, const std::string& tag)
{
    const std::string open = "<" + tag + ">";
    const size_t begin = xml.find(open);
    if (begin == std::string::npos)
        return {};
    const size_t end = xml.find("</" + tag + ">", begin);
    return end == std::string::npos ? std::string()
                                    : xml.substr(begin + open.size(), end - begin - open.size());
}

class Standin
{
public:
    Standin(std::map<std::string, Account> accounts, fs::path store)
        : m_accounts(std::move(accounts)), m_store(std::move(store))
    {}

    std::string list(const std::string& user, const std::string& key)
    {
        std::lock_guard lock(m_mutex);
        const Account* account = find(user, key);
        if (!account)
            return invalidAccount;
        if (account->transactions.empty())
            return "0";
        std::string answer;
        for (const Transaction& transaction : account->transactions)
            answer += std::to_string(transaction.id) + ";;" + transaction.name + "\r\n";
        return answer;
    }

    std::string upload(const httplib::Request& request, const std::vector<Part>& parts)
    {
        const std::string* file = partValue(parts, "file");
        const std::string* upl = partValue(parts, "upl");
        if (!file || !upl || *upl != "Upload")
            return "Error: The upload misses its parts";

        std::lock_guard lock(m_mutex);
        Account* account = find(element(*file, "username"), element(*file, "key"));
        if (!account)
            return invalidAccount;
        std::string target;
        if (request.has_param("trid")) {
            const std::string id = request.get_param_value("trid");
            bool known = false;
            for (const Transaction& transaction : account->transactions)
                known = known || std::to_string(transaction.id) == id;
            if (!known)
                return "Error: Unknown transaction " + id;
            target = "replace " + id;
        } else {
            target = request.get_param_value("fp") == "1" ? "fullpage" : "performance";
            long next = 1;
            for (const Transaction& transaction : account->transactions)
                next = std::max(next, transaction.id + 1);
            account->transactions.push_back({next, "Uploaded transaction " + std::to_string(next)});
        }
        const fs::path folder = newFolder("upload");
        if (folder.empty() || !save(folder / "recorder.xml", *file) || !save(folder / "target.txt", target))
            return "Error: The upload could not be stored";
        return "OK Transaction uploaded";
    }

    std::string report(const std::vector<Part>& parts)
    {
        static const char* const names[] = {"file", "name", "email", "user", "description"};
        for (const char* name : names) {
            if (!partValue(parts, name))
                return std::string("Error: The report misses its ") + name + " part";
        }
        std::lock_guard lock(m_mutex);
        const fs::path folder = newFolder("report");
        if (folder.empty())
            return "Error: The report could not be stored";
        for (const char* name : names) {
            const fs::path file =
                folder / (std::string(name) == "file" ? "recorder.xml" : std::string(name) + ".txt");
            if (!save(file, *partValue(parts, name)))
                return "Error: The report could not be stored";
        }
        return "OK Report received";
    }

private:
    Account* find(const std::string& user, const std::string& key)
    {
        const auto it = m_accounts.find(user);
        return it != m_accounts.end() && it->second.key == key ? &it->second : nullptr;
    }

    fs::path newFolder(const std::string& kind)
    {
        for (int n = 1; n < 100000; ++n) {
            const fs::path folder = m_store / (kind + "-" + std::to_string(n));
            std::error_code ec;
            if (fs::create_directory(folder, ec))
                return folder;
            if (ec)
                return {};
        }
        return {};
    }

    static bool save(const fs::path& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out.flush());
    }

    std::mutex m_mutex;
    std::map<std::string, Account> m_accounts;
    fs::path m_store;
};

// How the answers go out: as they are, or replaced and paced by the options.
struct AnswerShape
{
    std::optional<size_t> size; // --answer-size: an error text of this many bytes instead
    long pauseMs = 0;           // --answer-slowly: the pause before each piece
};

// Byte i of the long error text: a first line, then one line over and over.
char longAnswerByte(size_t i)
{
    static const std::string first = "Error: the stand-in service was asked for a long answer.\r\n";
    static const std::string line = "This line repeats until the answer has the size asked for.\r\n";
    return i < first.size() ? first[i] : line[(i - first.size()) % line.size()];
}

void reply(httplib::Response& response, const std::string& text, const AnswerShape& shape)
{
    const std::string type = "text/html; charset=windows-1252";
    if (!shape.size && shape.pauseMs == 0)
        return response.set_content(text, type);
    const size_t length = shape.size.value_or(text.size());
    const size_t piece = shape.pauseMs > 0 ? 4 : 64 * 1024;
    // Sends the piece from offset on; false once the client has gone away.
    const auto send = [text, shape, piece, length](size_t offset, httplib::DataSink& sink) {
        if (shape.pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(shape.pauseMs));
        std::string bytes(std::min(piece, length - offset), '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = shape.size ? longAnswerByte(offset + i) : text[offset + i];
        return sink.write(bytes.data(), bytes.size());
    };
    // The long error text goes out chunked, with no length announced, as a
    // script's output does; so the client learns its size only by reading it.
    if (shape.size) {
        response.set_chunked_content_provider(type, [send, length](size_t offset, httplib::DataSink& sink) {
            if (offset < length)
                return send(offset, sink);
            sink.done();
            return true;
        });
    } else {
        response.set_content_provider(length, type, [send](size_t offset, size_t, httplib::DataSink& sink) {
            return send(offset, sink);
        });
    }
}

// A whole non-negative number, or nothing.
std::optional<unsigned long long> number(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0 ? std::optional(value) : std::nullopt;
}

const char* const usageText =
    "usage: tallyro-standin-service --port PORT --accounts FILE --store FOLDER\n"
    "                               [--answer-size BYTES] [--answer-slowly MS]\n"
    "  --answer-size BYTES  answer every request with an error text of BYTES bytes\n"
    "  --answer-slowly MS   send every answer a few bytes at a time, MS ms apart\n";

int usage()
{
    std::cerr << usageText;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::string(argv[1]) == "--help") {
        std::cout << usageText;
        return 0;
    }
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2)
        options[argv[i]] = argv[i + 1];
    if (argc % 2 == 0 || !options.count("--port") || !options.count("--accounts") ||
        !options.count("--store"))
        return usage();
    for (const auto& [name, value] : options) {
        if (name != "--port" && name != "--accounts" && name != "--store" && name != "--answer-size" &&
            name != "--answer-slowly")
            return usage();
    }
    AnswerShape shape;
    if (options.count("--answer-size")) {
        const auto size = number(options["--answer-size"]);
        if (!size)
            return usage();
        shape.size = static_cast<size_t>(*size);
    }
    if (options.count("--answer-slowly")) {
        const auto pause = number(options["--answer-slowly"]);
        if (!pause || *pause == 0 || *pause > 60'000)
            return usage();
        shape.pauseMs = static_cast<long>(*pause);
    }

    std::map<std::string, Account> accounts;
    std::string error;
    if (!readAccounts(options["--accounts"], accounts, error)) {
        std::cerr << "tallyro-standin-service: " << error << '\n';
        return 1;
    }
    const fs::path store = options["--store"];
    std::error_code ec;
    fs::create_directories(store, ec);
    if (!fs::is_directory(store)) {
        std::cerr << "tallyro-standin-service: cannot use the folder " << store << '\n';
        return 1;
    }

    Standin standin(std::move(accounts), store);
    httplib::Server server;
    const auto answer = [&shape](httplib::Response& response, const std::string& text) {
        reply(response, text, shape);
    };
    server.Get("/uploadtrans.php", [&](const httplib::Request& request, httplib::Response& response) {
        if (shape.size)
            return answer(response, std::string());
        answer(response, standin.list(request.get_param_value("username"), request.get_param_value("key")));
    });
    // The recorder ends its body with the closing delimiter and no line break,
    // which services accept but httplib's own form parser rejects; so the body
    // is read raw and parsed here. httplib picks its parser from the request's
    // Content-Type, which is therefore moved aside before routing. (The request
    // object is not const; the handler only sees it through a const reference.)
    server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        auto& headers = const_cast<httplib::Request&>(request).headers;
        const auto type = headers.find("Content-Type");
        if (type != headers.end()) {
            headers.emplace(contentTypeAside, type->second);
            headers.erase(type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Post("/uploadtrans.php", [&](const httplib::Request& request, httplib::Response& response,
                                        const httplib::ContentReader& reader) {
        std::string body;
        reader([&body](const char* data, size_t length) {
            body.append(data, length);
            return true;
        });
        if (shape.size)
            return answer(response, std::string());
        if (request.get_header_value(contentTypeAside) != expectedContentType)
            return answer(response, "Error: Unexpected content type");
        const auto parts = parseMultipart(body);
        if (!parts)
            return answer(response, "Error: The request is not a form body");
        if (request.get_param_value("report") == "problem")
            return answer(response, standin.report(*parts));
        answer(response, standin.upload(request, *parts));
    });

    const int requested = std::atoi(options["--port"].c_str());
    const int port = requested == 0 ? server.bind_to_any_port("127.0.0.1")
                                    : (server.bind_to_port("127.0.0.1", requested) ? requested : -1);
    if (port <= 0) {
        std::cerr << "tallyro-standin-service: cannot listen on 127.0.0.1:" << requested << '\n';
        return 1;
    }
    std::cout << "Listening on 127.0.0.1:" << port << std::endl;
    return server.listen_after_bind() ? 0 : 1;
}
