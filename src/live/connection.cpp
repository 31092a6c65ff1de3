// pgnlive's HTTP connections: Beast parses the requests and writes the responses, Asio
// carries the bytes.
//
// A connection reads one request header at a time (a request with a body is answered, then
// the connection closes, so that no body is ever read), answers it, and reads the next. The
// first request of a connection, and one that has begun, must be whole within the request
// time-out; between requests a keep-alive connection may stay idle for the idle time-out.
// A request for /events turns the connection into an event stream: from then on it only
// writes (the head, "retry", the event slots, then each change, all shared, never copied)
// and reads only to notice the client's end. Every failure of a connection, and every
// exception out of Beast or Asio, closes that connection alone.

#include <array>
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
#include <deque>
#include <limits>
#include <optional>
#include <utility>

#include "live/server_state.h"

namespace live {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using Response = http::response<http::span_body<const char>>;
using RequestParser = http::request_parser<http::empty_body>;

constexpr std::size_t kReadChunk = 4096;  // bytes asked of the socket by one read
constexpr std::size_t kMaxGather = 16;    // queued event messages handed to one write

constexpr std::string_view kPageSecurityPolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'";

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

}  // namespace

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

    // See QueueEvent.
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

void StartConnection(std::shared_ptr<ServerState> server, tcp::socket socket, bool refuse) {
    const auto connection = std::make_shared<Connection>(std::move(server), std::move(socket));
    if (refuse) {
        connection->Refuse();
    } else {
        connection->Serve();
    }
}

bool QueueEvent(Connection* client, const Text& message) {
    return client->Queue(message);
}

void CloseConnection(Connection* client) noexcept {
    client->Close();
}

}  // namespace live
