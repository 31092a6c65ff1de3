// What pgnlive's HTTP server holds, shared by its listener (server.cpp) and its
// connections (connection.cpp): everything runs on the io_context's thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "live/server.h"

namespace live {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Text = std::shared_ptr<const std::string>;

// A document or the page: its bytes, their entity tag and their type.
struct Resource {
    std::string owned;  // a document's bytes; the page's are in the program
    std::string_view bytes;
    std::string etag;
    std::string_view contentType;
    bool page = false;
};

class Connection;  // connection.cpp

// What the server holds: its listener, what it publishes, and its connections.
class ServerState : public std::enable_shared_from_this<ServerState> {
public:
    ServerState(asio::io_context& io, ServerLimits limits);

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

// A connection accepted by the server: served (its requests read and answered) or refused
// (told 503 at once, then closed). It stays alive while its handlers are queued.
void StartConnection(std::shared_ptr<ServerState> server, tcp::socket socket, bool refuse);
// Queues message on an event client's stream. False when that would put the client further
// behind than the limit, or the write cannot start: the caller closes the connection.
bool QueueEvent(Connection* client, const Text& message);
void CloseConnection(Connection* client) noexcept;

}  // namespace live
