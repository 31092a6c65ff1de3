// pgnlive's HTTP server: its listener and what it publishes; the connections are in
// connection.cpp. Everything runs on the io_context's thread.

#include "live/server.h"

#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "live/page.h"
#include "live/server_state.h"

namespace live {
namespace {

// Set by the build: whether the listener takes SO_REUSEADDR (see CMakeLists.txt).
constexpr bool kReuseAddress = CHESSREC_LIVE_REUSE_ADDRESS;
// Connections being told 503 at once; one more is closed without a word.
constexpr std::size_t kMaxRefusing = 64;
// The wait before accepting again after a failure such as "too many open files".
constexpr std::chrono::milliseconds kAcceptRetry{100};

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

// The system's reason for ec, without a final full stop or line end.
std::string Reason(const ErrorCode& ec) {
    std::string text = ec.message();
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == '\r' ||
                             text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// "127.0.0.1:8080", "[::1]:8080".
std::string HostPort(const std::string& address, std::uint16_t port) {
    const bool six = address.find(':') != std::string::npos;
    return (six ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace

ServerState::ServerState(asio::io_context& io, ServerLimits limits)
    : limits(limits),
      acceptor(io),
      acceptRetry(io),
      page(MakeResource({}, SpectatorPage(), "text/html; charset=utf-8", true)),
      retry(std::make_shared<const std::string>("retry: 2000\n\n")),
      keepAlive(std::make_shared<const std::string>(": keep-alive\n\n")) {}

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
                StartConnection(shared_from_this(), std::move(socket), false);
            } else if (refusing < kMaxRefusing) {
                StartConnection(shared_from_this(), std::move(socket), true);
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
        CloseConnection(connection);
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
        if (!QueueEvent(client, text)) behind.push_back(client);
    }
    for (Connection* client : behind) {
        CloseConnection(client);
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
