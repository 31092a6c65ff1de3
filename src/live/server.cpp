// pgnlive's HTTP server: Beast parses the requests and writes the responses, Asio carries
// the bytes; everything runs on the io_context's thread.
//
// A connection reads one request header at a time (a request with a body is answered, then
// the connection closes, so that no body is ever read), answers it, and reads the next. The
// first request of a connection, and one that has begun, must be whole within the request
// time-out; between requests a keep-alive connection may stay idle for the idle time-out.
// A request for /events turns the connection into an event stream: from then on it only
// writes (the head, "retry", the event slots, then each change, all shared, never copied)
// and reads only to notice the client's end. Every failure of a connection, and every
// exception out of Beast or Asio, closes that connection alone.

#include "live/server.h"

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/write.hpp>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "live/page.h"

namespace live {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Text = std::shared_ptr<const std::string>;
using Response = http::response<http::span_body<const char>>;
using RequestParser = http::request_parser<http::empty_body>;

// Set by the build: whether the listener takes SO_REUSEADDR (see CMakeLists.txt).
constexpr bool kReuseAddress = CHESSREC_LIVE_REUSE_ADDRESS;
constexpr std::size_t kReadChunk = 4096;  // bytes asked of the socket by one read
constexpr std::size_t kMaxGather = 16;    // queued event messages handed to one write
// Connections being told 503 at once; one more is closed without a word.
constexpr std::size_t kMaxRefusing = 64;
// The wait before accepting again after a failure such as "too many open files".
constexpr std::chrono::milliseconds kAcceptRetry{100};

constexpr std::string_view kPageSecurityPolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'";

// A document or the page: its bytes, their entity tag and their type.
struct Resource {
    std::string owned;  // a document's bytes; the page's are in the program
    std::string_view bytes;
    std::string etag;
    std::string_view contentType;
    bool page = false;
};

std::string_view ContentTypeOf(std::string_view path) {
    struct Type {
        std::string_view extension, type;
    };
    static constexpr Type kTypes[] = {
        {".pgn", "application/x-chess-pgn; charset=utf-8"},
        {".json", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".html", "text/html; charset=utf-8"},
    };
    for (const Type& t : kTypes) {
        if (path.ends_with(t.extension)) return t.type;
    }
    return "application/octet-stream";
}

// A strong entity tag for bytes: their length and their 64-bit FNV-1a hash, in hexadecimal.
std::string EntityTag(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "\"%zx-%016llx\"", bytes.size(),
                  static_cast<unsigned long long>(hash));
    return text;
}

std::shared_ptr<const Resource> MakeResource(std::string owned, std::string_view builtIn,
                                             std::string_view contentType, bool page) {
    auto resource = std::make_shared<Resource>();
    resource->owned = std::move(owned);
    resource->bytes = page ? builtIn : std::string_view(resource->owned);
    resource->etag = EntityTag(resource->bytes);
    resource->contentType = contentType;
    resource->page = page;
    return resource;
}

// An HTTP date (IMF-fixdate), e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::chrono::sys_seconds time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto day = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{time - day};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  kDays[std::chrono::weekday{day}.c_encoding()], static_cast<unsigned>(date.day()),
                  kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

// Whether an If-None-Match value is "*" or lists etag (compared weakly: W/ is ignored).
bool ListsTag(std::string_view list, std::string_view etag) {
    std::size_t i = 0;
    while (i < list.size()) {
        const char c = list[i];
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        if (c == '*') return true;
        if (list.substr(i, 2) == "W/") i += 2;
        if (i >= list.size() || list[i] != '"') return false;  // not an entity tag
        const std::size_t end = list.find('"', i + 1);
        if (end == std::string_view::npos) return false;
        if (list.substr(i, end + 1 - i) == etag) return true;
        i = end + 1;
    }
    return false;
}

// The path of a request target in origin form ("/path?query") or absolute form
// ("http://host/path?query"), without its query; nothing for any other form.
std::optional<std::string_view> PathOf(std::string_view target) {
    if (target.empty()) return std::nullopt;
    if (target.front() != '/') {
        const std::size_t scheme = target.find("://");
        if (scheme == std::string_view::npos ||
            (!beast::iequals(target.substr(0, scheme), "http") &&
             !beast::iequals(target.substr(0, scheme), "https"))) {
            return std::nullopt;
        }
        const std::size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? "/" : target.substr(slash);
    }
    return target.substr(0, target.find('?'));
}

std::string_view ErrorBody(http::status status) {
    switch (status) {
        case http::status::bad_request:
            return "Bad Request\n";
        case http::status::not_found:
            return "Not Found\n";
        case http::status::method_not_allowed:
            return "Method Not Allowed\n";
        case http::status::request_header_fields_too_large:
            return "Request Header Fields Too Large\n";
        default:
            return "Service Unavailable\n";
    }
}

// The system's reason for ec, without a final full stop or line end.
std::string Reason(const ErrorCode& ec) {
    std::string text = ec.message();
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == '\r' ||
                             text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

class Connection;

}  // namespace

// What the server holds: its listener, what it publishes, and its connections.
class ServerState : public std::enable_shared_from_this<ServerState> {
public:
    ServerState(asio::io_context& io, ServerLimits limits)
        : limits(limits),
          acceptor(io),
          acceptRetry(io),
          page(MakeResource({}, SpectatorPage(), "text/html; charset=utf-8", true)),
          retry(std::make_shared<const std::string>("retry: 2000\n\n")),
          keepAlive(std::make_shared<const std::string>(": keep-alive\n\n")) {}

    bool Listen(const std::string& address, std::uint16_t port, std::string* error);
    void Stop();
    // The current date for the Date header, formatted once a second.
    const std::string& Date();

    const ServerLimits limits;
    tcp::acceptor acceptor;
    asio::steady_timer acceptRetry;
    bool stopped = false;
    std::unordered_map<std::string, std::shared_ptr<const Resource>> documents;
    const std::shared_ptr<const Resource> page;
    std::map<int, Text> events;
    std::unordered_set<Connection*> open;     // every connection, refused ones included
    std::unordered_set<Connection*> streams;  // the event clients
    std::size_t refusing = 0;                 // connections in open being told 503
    const Text retry;
    const Text keepAlive;

private:
    void Accept();
    void OnAccept(const ErrorCode& ec, tcp::socket socket);
    void AcceptLater();

    std::chrono::sys_seconds dateSecond_{};
    std::string date_;
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(std::shared_ptr<ServerState> server, tcp::socket socket)
        : server_(std::move(server)),
          socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          buffer_(server_->limits.maxHeaderBytes + kReadChunk) {
        server_->open.insert(this);
    }
    ~Connection() { Unregister(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads and answers requests until the client leaves or breaks a limit.
    void Serve() {
        Guard([&] { NextRequest(true); });
    }

    // Answers 503 without reading the request, then closes.
    void Refuse() {
        refused_ = true;
        ++server_->refusing;
        Guard([&] { Fail(http::status::service_unavailable); });
    }

    // Queues message on this event stream. False when that would put the client further
    // behind than the limit, or the write cannot start: the caller closes the connection.
    bool Queue(const Text& message) {
        if (phase_ != Phase::kStreaming) return true;
        if (queued_ + message->size() > server_->limits.maxQueuedEventBytes) return false;
        try {
            Push(message);
            Pump();
            return true;
        } catch (...) {
            return false;
        }
    }

    void Close() noexcept {
        if (phase_ == Phase::kClosed) return;
        phase_ = Phase::kClosed;
        ErrorCode ignored;
        socket_.close(ignored);
        try {
            timer_.cancel();
        } catch (...) {
        }
        Unregister();
    }

private:
    enum class Phase { kWaiting, kReading, kWriting, kStreaming, kClosing, kClosed };

    // Runs f; an exception from it (Beast, Asio, memory) closes this connection only.
    template <class F>
    void Guard(F&& f) noexcept {
        try {
            f();
        } catch (...) {
            Close();
        }
    }

    void Unregister() noexcept {
        if (!registered_) return;
        registered_ = false;
        server_->open.erase(this);
        server_->streams.erase(this);
        if (refused_) --server_->refusing;
    }

    // The one deadline of the connection: after it, OnDeadline.
    void Arm(std::chrono::milliseconds after) {
        const std::uint64_t generation = ++timerGeneration_;
        timer_.expires_after(after);
        timer_.async_wait([self = shared_from_this(), generation](const ErrorCode& ec) {
            if (ec || generation != self->timerGeneration_ || self->phase_ == Phase::kClosed)
                return;
            self->Guard([&] { self->OnDeadline(); });
        });
    }

    void OnDeadline() {
        if (phase_ == Phase::kStreaming && !writing_) {  // a quiet stream
            Push(server_->keepAlive);
            Pump();
            return;
        }
        Close();  // a request not whole, an idle client, a write not taken, a slow goodbye
    }

    void NextRequest(bool first) {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(std::min<std::size_t>(
            server_->limits.maxHeaderBytes, std::numeric_limits<std::uint32_t>::max())));
        if (first || buffer_.size() > 0) {
            Arm(server_->limits.requestTimeout);
            ReadHeader();
            return;
        }
        // Idle until the next request's first bytes; from them on, the request time-out.
        phase_ = Phase::kWaiting;
        Arm(server_->limits.idleTimeout);
        socket_.async_read_some(buffer_.prepare(kReadChunk),
                                [self = shared_from_this()](const ErrorCode& ec, std::size_t n) {
                                    if (self->phase_ == Phase::kClosed) return;
                                    self->Guard([&] {
                                        if (ec) return self->Close();
                                        self->buffer_.commit(n);
                                        self->Arm(self->server_->limits.requestTimeout);
                                        self->ReadHeader();
                                    });
                                });
    }

    void ReadHeader() {
        phase_ = Phase::kReading;
        http::async_read_header(socket_, buffer_, *parser_,
                                [self = shared_from_this()](const ErrorCode& ec, std::size_t n) {
                                    if (self->phase_ == Phase::kClosed) return;
                                    self->Guard([&] { self->OnHeader(ec, n); });
                                });
    }

    // n: the bytes of the request line and headers. Beast limits the line and the headers
    // each to the limit, which bounds what is read; their sum is checked here.
    void OnHeader(const ErrorCode& ec, std::size_t n) {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow ||
            (!ec && n > server_->limits.maxHeaderBytes)) {
            return Fail(http::status::request_header_fields_too_large);
        }
        if (ec == http::error::end_of_stream || ec == http::error::partial_message) {
            return Close();  // the client has gone
        }
        if (ec) {
            if (ec.category() == http::make_error_code(http::error::bad_method).category()) {
                return Fail(http::status::bad_request);
            }
            return Close();  // the connection failed
        }
        Answer(parser_->get());
    }

    void Answer(const http::request<http::empty_body>& request) {
        version_ = request.version();
        head_ = request.method() == http::verb::head;
        // A body is never read: after the response the connection closes.
        keepAlive_ = request.keep_alive() && parser_->is_done();
        if (request.method() != http::verb::get && !head_) {
            Response& response = NewResponse(http::status::method_not_allowed);
            response.set(http::field::allow, "GET, HEAD");
            response.set(http::field::content_type, "text/plain; charset=utf-8");
            return Send(ErrorBody(http::status::method_not_allowed));
        }
        // HTTP/1.1 asks for exactly one Host; HTTP/1.0 for at most one.
        const std::size_t hosts = request.count(http::field::host);
        const std::optional<std::string_view> path = PathOf(request.target());
        if (!path || hosts > 1 || (hosts == 0 && version_ >= 11)) {
            return Fail(http::status::bad_request);
        }
        if (*path == "/events") {
            if (!head_) return StartStream();
            Response& response = NewResponse(http::status::ok);
            response.set(http::field::content_type, "text/event-stream");
            response.set(http::field::cache_control, "no-cache");
            return Send({}, false);
        }
        if (*path == "/" || *path == "/index.html") {
            resource_ = server_->page;
        } else if (auto found = server_->documents.find(std::string(*path));
                   found != server_->documents.end()) {
            resource_ = found->second;
        } else {
            Response& response = NewResponse(http::status::not_found);
            response.set(http::field::content_type, "text/plain; charset=utf-8");
            return Send(ErrorBody(http::status::not_found));
        }

        bool unchanged = false;
        const auto [first, last] = request.equal_range(http::field::if_none_match);
        for (auto field = first; field != last && !unchanged; ++field) {
            unchanged = ListsTag(field->value(), resource_->etag);
        }
        Response& response = NewResponse(unchanged ? http::status::not_modified : http::status::ok);
        response.set(http::field::etag, resource_->etag);
        response.set(http::field::cache_control, "no-cache");
        if (resource_->page) {
            response.set("Content-Security-Policy", kPageSecurityPolicy);
        } else {
            response.set(http::field::access_control_allow_origin, "*");
        }
        if (unchanged) return Send({}, false);
        response.set(http::field::content_type, resource_->contentType);
        Send(resource_->bytes);
    }

    Response& NewResponse(http::status status) {
        response_.emplace(status, version_);
        response_->set(http::field::date, server_->Date());
        response_->set("X-Content-Type-Options", "nosniff");
        return *response_;
    }

    // Answers status with a short text, then closes.
    void Fail(http::status status) {
        version_ = 11;
        head_ = false;
        keepAlive_ = false;
        Response& response = NewResponse(status);
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        Send(ErrorBody(status));
    }

    // Writes the response begun by NewResponse, with body (its length too, unless
    // withLength is false; a HEAD request gets the length alone), then reads the next
    // request or closes.
    void Send(std::string_view body, bool withLength = true) {
        if (withLength) response_->content_length(body.size());
        if (!head_) response_->body() = {body.data(), body.size()};
        response_->keep_alive(keepAlive_);
        phase_ = Phase::kWriting;
        Arm(server_->limits.writeTimeout);
        http::async_write(socket_, *response_,
                          [self = shared_from_this()](const ErrorCode& ec, std::size_t) {
                              if (self->phase_ == Phase::kClosed) return;
                              self->Guard([&] {
                                  if (ec) return self->Close();
                                  self->resource_.reset();
                                  if (self->keepAlive_) return self->NextRequest(false);
                                  self->Linger();
                              });
                          });
    }

    // After the last response: the sending side closes, and what the client still sends is
    // read and dropped until it leaves (closing with bytes unread would reset the connection,
    // which can destroy the response before the client has read it).
    void Linger() {
        phase_ = Phase::kClosing;
        ErrorCode ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        parser_.reset();
        Arm(server_->limits.requestTimeout);
        Drain();
    }

    // Reads and drops whatever the client sends, until it leaves.
    void Drain() {
        socket_.async_read_some(asio::buffer(scratch_),
                                [self = shared_from_this()](const ErrorCode& ec, std::size_t) {
                                    if (self->phase_ == Phase::kClosed) return;
                                    self->Guard([&] {
                                        if (ec) return self->Close();
                                        self->Drain();
                                    });
                                });
    }

    void StartStream() {
        phase_ = Phase::kStreaming;
        parser_.reset();
        response_.reset();
        buffer_.clear();
        buffer_.shrink_to_fit();
        server_->streams.insert(this);
        // The end of the stream is the end of the connection: no length, no chunks.
        Push(std::make_shared<const std::string>(
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
            "X-Content-Type-Options: nosniff\r\nDate: " +
            server_->Date() + "\r\nConnection: close\r\n\r\n"));
        Push(server_->retry);
        for (const auto& [slot, message] : server_->events) {
            Push(message);
        }
        Pump();
        Drain();
    }

    void Push(const Text& message) {
        queue_.push_back(message);
        queued_ += message->size();
    }

    // Writes the front of the queue, if no write is under way.
    void Pump() {
        if (writing_ || queue_.empty() || phase_ != Phase::kStreaming) return;
        gathered_ = std::min(queue_.size(), kMaxGather);
        for (std::size_t i = 0; i < kMaxGather; ++i) {
            gather_[i] = i < gathered_ ? asio::buffer(*queue_[i]) : asio::const_buffer();
        }
        writing_ = true;
        Arm(server_->limits.writeTimeout);
        asio::async_write(socket_, gather_,
                          [self = shared_from_this()](const ErrorCode& ec, std::size_t) {
                              if (self->phase_ == Phase::kClosed) return;
                              self->Guard([&] { self->OnWritten(ec); });
                          });
    }

    void OnWritten(const ErrorCode& ec) {
        writing_ = false;
        if (ec) return Close();
        for (std::size_t i = 0; i < gathered_; ++i) {
            queued_ -= queue_.front()->size();
            queue_.pop_front();
        }
        gathered_ = 0;
        if (queue_.empty()) {
            Arm(server_->limits.keepAliveComment);
        } else {
            Pump();
        }
    }

    std::shared_ptr<ServerState> server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::uint64_t timerGeneration_ = 0;
    Phase phase_ = Phase::kReading;
    bool registered_ = true;
    bool refused_ = false;

    // Requests.
    beast::flat_buffer buffer_;
    std::optional<RequestParser> parser_;
    unsigned version_ = 11;
    bool head_ = false;
    bool keepAlive_ = false;
    std::optional<Response> response_;
    std::shared_ptr<const Resource> resource_;  // the bytes response_ sends
    std::array<char, 256> scratch_{};           // what Drain reads

    // The event stream: messages not yet written, shared with the server and the others.
    std::deque<Text> queue_;
    std::size_t queued_ = 0;  // their bytes
    std::array<asio::const_buffer, kMaxGather> gather_{};
    std::size_t gathered_ = 0;  // messages of the write under way
    bool writing_ = false;
};

// "127.0.0.1:8080", "[::1]:8080".
std::string HostPort(const std::string& address, std::uint16_t port) {
    const bool six = address.find(':') != std::string::npos;
    return (six ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace

bool ServerState::Listen(const std::string& address, std::uint16_t port, std::string* error) {
    ErrorCode ec;
    auto fail = [&](const std::string& reason) {
        if (error) *error = "cannot listen on " + HostPort(address, port) + ": " + reason;
        ErrorCode ignored;
        acceptor.close(ignored);
        return false;
    };
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) return fail("not an IP address");
    const tcp::endpoint endpoint(ip, port);
    acceptor.close(ec);
    acceptor.open(endpoint.protocol(), ec);
    if (ec) return fail(Reason(ec));
    if (kReuseAddress) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    acceptor.bind(endpoint, ec);
    if (ec) return fail(Reason(ec));
    acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return fail(Reason(ec));
    stopped = false;
    Accept();
    return true;
}

void ServerState::Accept() {
    acceptor.async_accept([self = shared_from_this()](const ErrorCode& ec, tcp::socket socket) {
        self->OnAccept(ec, std::move(socket));
    });
}

void ServerState::OnAccept(const ErrorCode& ec, tcp::socket socket) {
    if (stopped || ec == asio::error::operation_aborted) return;
    try {
        if (ec && ec != asio::error::connection_aborted) return AcceptLater();
        if (!ec) {
            ErrorCode ignored;
            socket.set_option(tcp::no_delay(true), ignored);  // events leave at once
            const std::size_t served = open.size() - refusing;
            if (served < limits.maxConnections) {
                std::make_shared<Connection>(shared_from_this(), std::move(socket))->Serve();
            } else if (refusing < kMaxRefusing) {
                std::make_shared<Connection>(shared_from_this(), std::move(socket))->Refuse();
            }  // else the socket closes here
        }
        Accept();
    } catch (...) {
        AcceptLater();
    }
}

// Accepts again after a while: the failure (no descriptor left, no memory) may pass.
void ServerState::AcceptLater() {
    try {
        acceptRetry.expires_after(kAcceptRetry);
        acceptRetry.async_wait([self = shared_from_this()](const ErrorCode& ec) {
            if (ec || self->stopped) return;
            try {
                self->Accept();
            } catch (...) {
                self->AcceptLater();
            }
        });
    } catch (...) {
        // Nothing is left to try with: the listener stays open and no longer accepts.
    }
}

void ServerState::Stop() {
    stopped = true;
    ErrorCode ignored;
    acceptor.close(ignored);
    try {
        acceptRetry.cancel();
    } catch (...) {
    }
    // Close only posts the connections' handlers (with operation_aborted): every one stays
    // alive, held by them, until they have run.
    const std::vector<Connection*> all(open.begin(), open.end());
    for (Connection* connection : all) {
        connection->Close();
    }
}

const std::string& ServerState::Date() {
    const auto second = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    if (second != dateSecond_ || date_.empty()) {
        dateSecond_ = second;
        date_ = HttpDate(second);
    }
    return date_;
}

Server::Server(boost::asio::io_context& io, ServerLimits limits)
    : state_(std::make_shared<ServerState>(io, limits)) {}

Server::~Server() {
    state_->Stop();
}

bool Server::Listen(const std::string& address, std::uint16_t port, std::string* error) {
    return state_->Listen(address, port, error);
}

std::uint16_t Server::Port() const {
    ErrorCode ec;
    const tcp::endpoint endpoint = state_->acceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void Server::SetDocument(const std::string& path, std::string body) {
    state_->documents[path] = MakeResource(std::move(body), {}, ContentTypeOf(path), false);
}

void Server::RemoveDocument(const std::string& path) {
    state_->documents.erase(path);
}

void Server::SetEvent(int slot, std::string message) {
    const Text text = std::make_shared<const std::string>(std::move(message));
    state_->events[slot] = text;
    std::vector<Connection*> behind;
    for (Connection* client : state_->streams) {
        if (!client->Queue(text)) behind.push_back(client);
    }
    for (Connection* client : behind) {
        client->Close();
    }
}

void Server::RemoveEvent(int slot) {
    state_->events.erase(slot);
}

void Server::Stop() {
    state_->Stop();
}

std::size_t Server::Connections() const {
    return state_->open.size() - state_->refusing;
}

std::size_t Server::EventClients() const {
    return state_->streams.size();
}

}  // namespace live
