// pgnlive's HTTP/1.1 server: read-only, with keep-alive, on one io_context's thread.
//
//   GET|HEAD /, /index.html   the spectators' page (page.h), built into the program
//   GET|HEAD /events          the event stream (Server-Sent Events): "retry: 2000", every
//                             event slot in ascending order, then each change as it is set
//   GET|HEAD PATH             a document published with SetDocument, by its exact path
//
// A query string is ignored; anything else is 404, another method 405, a malformed request
// 400. No URL names a file on disk. Every limit is in ServerLimits; a client that breaks
// one loses its own connection, never the server or the other clients.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace live {

struct ServerLimits {
    std::size_t maxConnections = 1100;                  // beyond: 503, then the connection closes
    std::size_t maxHeaderBytes = 8192;                  // request line and headers; beyond: 431
    std::chrono::milliseconds requestTimeout{20000};    // a request not whole by then: closed
    std::chrono::milliseconds idleTimeout{60000};       // keep-alive with no new request: closed
    std::chrono::milliseconds writeTimeout{20000};      // a response or event not taken: closed
    std::size_t maxQueuedEventBytes = 1 << 20;          // an event client further behind: dropped
    std::chrono::milliseconds keepAliveComment{15000};  // ": keep-alive" on a quiet stream
};

class ServerState;  // server.cpp

class Server {
public:
    // io must outlive the server.
    explicit Server(boost::asio::io_context& io, ServerLimits limits = {});
    // Stops the server. Handlers still queued on the io_context finish harmlessly.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds address:port (an IPv4 or IPv6 address; port 0: any free port) and starts
    // accepting. False, with a reason in *error (e.g. "cannot listen on 127.0.0.1:8080:
    // Address already in use").
    bool Listen(const std::string& address, std::uint16_t port, std::string* error);
    // The port bound (0 before Listen).
    std::uint16_t Port() const;

    // Publishes body at path (e.g. "/games.pgn", "/game-3.pgn"), replacing what was there;
    // its ETag is derived from the bytes. Content-Type by extension (.pgn:
    // application/x-chess-pgn; charset=utf-8).
    void SetDocument(const std::string& path, std::string body);
    void RemoveDocument(const std::string& path);

    // The latest state of event slot n (a whole Server-Sent Events message, e.g.
    // "event: board\ndata: {...}\n\n"): written at once to every client of /events, and to
    // each client that connects later, slots in ascending order, after "retry: 2000\n\n".
    void SetEvent(int slot, std::string message);
    void RemoveEvent(int slot);

    // Closes the listener and every connection.
    void Stop();

    // For tests and benchmarks: connections open now (those refused with 503 not counted),
    // and event clients among them.
    std::size_t Connections() const;
    std::size_t EventClients() const;

private:
    std::shared_ptr<ServerState> state_;
};

}  // namespace live
