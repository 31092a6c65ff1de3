// pgnlive's server in process: a Server on 127.0.0.1, port 0, with small limits, and clients
// that speak raw TCP through Asio on the same io_context, so that a request can be cut,
// slowed down or its answer left unread. Every wait runs the io_context until the awaited
// event, with a deadline; time-outs are short limits, never sleeps.
#include "live/server.h"

#include <gtest/gtest.h>

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "live/page.h"

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Reply = http::response<http::string_body>;
using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

// One TCP connection to the server; what the server sends is gathered in Received().
class Client {
public:
    Client(asio::io_context& io, std::uint16_t port) : state_(std::make_shared<State>(io)) {
        state_->socket.connect({asio::ip::make_address("127.0.0.1"), port});
    }
    ~Client() { Close(); }

    // Sends bytes; false when the server has already closed the connection.
    bool Send(std::string_view bytes) {
        ErrorCode ec;
        asio::write(state_->socket, asio::buffer(bytes), ec);
        return !ec;
    }
    // Starts gathering what the server sends, until it closes the connection.
    void Read() { Receive(state_); }
    // Ends the connection: in order, or with a reset.
    void Close(bool reset = false) {
        ErrorCode ignored;
        if (reset) state_->socket.set_option(asio::socket_base::linger(true, 0), ignored);
        state_->socket.close(ignored);
    }

    std::string& Received() { return state_->received; }
    bool Closed() const { return state_->closed; }
    // The bytes after the response head (an event stream).
    std::size_t StreamSize() const {
        const std::size_t head = state_->received.find("\r\n\r\n");
        return head == std::string::npos ? 0 : state_->received.size() - head - 4;
    }
    // What follows the response head (an event stream), without the keep-alive comments.
    std::string Stream() const {
        const std::size_t head = state_->received.find("\r\n\r\n");
        if (head == std::string::npos) return {};
        std::string stream = state_->received.substr(head + 4);
        for (std::size_t at; (at = stream.find(": keep-alive\n\n")) != std::string::npos;) {
            stream.erase(at, 14);
        }
        return stream;
    }

private:
    // Shared with the pending read, which may outlive the client.
    struct State {
        explicit State(asio::io_context& io) : socket(io) {}
        tcp::socket socket;
        std::array<char, 65536> chunk{};
        std::string received;
        bool closed = false;
    };
    static void Receive(const std::shared_ptr<State>& state) {
        state->socket.async_read_some(asio::buffer(state->chunk),
                                      [state](const ErrorCode& ec, std::size_t n) {
                                          state->received.append(state->chunk.data(), n);
                                          if (ec) {
                                              state->closed = true;
                                              return;
                                          }
                                          Receive(state);
                                      });
    }
    std::shared_ptr<State> state_;
};

class ServerTest : public ::testing::Test {
protected:
    void Start(const live::ServerLimits& limits = {}) {
        server_.emplace(io_, limits);
        std::string error;
        ASSERT_TRUE(server_->Listen("127.0.0.1", 0, &error)) << error;
    }
    live::Server& Server() { return *server_; }
    std::unique_ptr<Client> Connect() { return std::make_unique<Client>(io_, server_->Port()); }

    // Runs the io_context until done() holds: false if it does not by the deadline.
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            io_.restart();
            io_.run_one_for(20ms);
        }
        return true;
    }

    // The next whole response on client (which reads), taken from what it received.
    Reply NextReply(Client& client, bool head = false) {
        std::optional<Reply> reply;
        const bool whole = RunUntil([&] {
            http::response_parser<http::string_body> parser;
            parser.skip(head);
            parser.eager(true);
            const std::string& received = client.Received();
            std::size_t used = 0;
            ErrorCode ec;
            while (!parser.is_done() && !ec && used < received.size()) {
                used +=
                    parser.put(asio::buffer(received.data() + used, received.size() - used), ec);
            }
            if (!parser.is_done()) {
                if (ec && ec != http::error::need_more) ADD_FAILURE() << ec.message();
                return ec && ec != http::error::need_more;
            }
            reply = parser.release();
            client.Received().erase(0, used);
            return true;
        });
        EXPECT_TRUE(whole && reply) << "no whole response in: " << client.Received();
        return reply ? std::move(*reply) : Reply{};
    }

    asio::io_context io_;
    std::optional<live::Server> server_;
};

std::string Get(const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// Some 30 KB of PGN: a games file of a few boards.
std::string GamesFile(int games) {
    std::string text;
    for (int i = 1; i <= games; ++i) {
        text += "[Event \"Club\"]\r\n[Round \"" + std::to_string(i) + "\"]\r\n\r\n";
        for (int move = 1; move <= 40; ++move) {
            text += std::to_string(move) + ". Nf3 Nf6 ";
        }
        text += "*\r\n\r\n";
    }
    return text;
}

TEST_F(ServerTest, ServesDocumentsAndThePageOnOneConnection) {
    Start();
    const std::string games = GamesFile(60);
    const std::string game3 = "[Event \"Club\"]\r\n\r\n1. e4 *\r\n";
    Server().SetDocument("/games.pgn", games);
    Server().SetDocument("/game-3.pgn", game3);
    Client client(io_, Server().Port());
    client.Read();

    client.Send(Get("/games.pgn"));
    const Reply first = NextReply(client);
    EXPECT_EQ(first.result_int(), 200);
    EXPECT_EQ(first.body(), games);
    EXPECT_EQ(first[http::field::content_type], "application/x-chess-pgn; charset=utf-8");
    EXPECT_EQ(first[http::field::access_control_allow_origin], "*");
    EXPECT_EQ(first["X-Content-Type-Options"], "nosniff");
    EXPECT_TRUE(first.keep_alive());
    const std::string etag(first[http::field::etag]);
    ASSERT_FALSE(etag.empty());

    // Pipelined: a revalidation with a cache breaker, and a HEAD (its length, no body).
    client.Send(Get("/games.pgn?t=17", "If-None-Match: \"other\", " + etag + "\r\n") +
                "HEAD /game-3.pgn HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const Reply unchanged = NextReply(client);
    EXPECT_EQ(unchanged.result_int(), 304);
    EXPECT_EQ(unchanged[http::field::etag], etag);
    const Reply head = NextReply(client, true);
    EXPECT_EQ(head.result_int(), 200);
    EXPECT_EQ(head[http::field::content_length], std::to_string(game3.size()));

    // A new version has a new tag; a removed document is gone. The bytes after the HEAD
    // answer must be the next response, or these do not parse.
    Server().SetDocument("/games.pgn", games + "1. d4 *\r\n\r\n");
    Server().RemoveDocument("/game-3.pgn");
    client.Send(Get("/games.pgn", "If-None-Match: " + etag + "\r\n") + Get("/game-3.pgn") +
                Get("/"));
    const Reply changed = NextReply(client);
    EXPECT_EQ(changed.result_int(), 200);
    EXPECT_EQ(changed.body(), games + "1. d4 *\r\n\r\n");
    EXPECT_NE(changed[http::field::etag], etag);
    EXPECT_EQ(NextReply(client).result_int(), 404);
    const Reply page = NextReply(client);
    EXPECT_EQ(page.result_int(), 200);
    EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_EQ(page.body(), live::SpectatorPage());
    EXPECT_NE(page["Content-Security-Policy"].find("default-src 'none'"), std::string::npos);
    EXPECT_EQ(Server().Connections(), 1u);

    // A document removed while its response is being written: the response keeps the bytes
    // it began with (16 MB: more than the sockets' buffers hold).
    const std::string big(16 << 20, 'e');
    Server().SetDocument("/big.pgn", big);
    client.Send(Get("/big.pgn"));
    ASSERT_TRUE(RunUntil([&] { return !client.Received().empty(); }));
    Server().RemoveDocument("/big.pgn");
    ASSERT_TRUE(RunUntil([&] { return client.Received().size() > big.size(); }));
    EXPECT_TRUE(NextReply(client).body() == big);

    // Another method, with a body that is never read: 405, then the connection closes.
    client.Send("POST /games.pgn HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 4\r\n\r\nabcd");
    const Reply post = NextReply(client);
    EXPECT_EQ(post.result_int(), 405);
    EXPECT_EQ(post[http::field::allow], "GET, HEAD");
    EXPECT_TRUE(RunUntil([&] { return client.Closed(); }));
}

TEST_F(ServerTest, AnswersBadRequestsAndRefusesBeyondTheCap) {
    live::ServerLimits limits;
    limits.maxConnections = 3;
    limits.maxHeaderBytes = 512;
    Start(limits);

    const struct {
        std::string request;
        unsigned status;
    } kBad[] = {
        {"HELLO\r\n\r\n", 400},
        {"GET /games.pgn HTTP/1.1\r\nNo colon here\r\n\r\n", 400},
        {"GET games.pgn HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n\r\n", 400},  // no Host
        {"GET /" + std::string(600, 'a') + " HTTP/1.1\r\n\r\n", 431},
        {Get("/", "Cookie: " + std::string(500, 'c') + "\r\n"), 431},
    };
    for (const auto& bad : kBad) {
        SCOPED_TRACE(bad.request.substr(0, 40));
        Client client(io_, Server().Port());
        client.Read();
        client.Send(bad.request);
        EXPECT_EQ(NextReply(client).result_int(), bad.status);
        EXPECT_TRUE(RunUntil([&] { return client.Closed(); }));
    }

    // Three connections that have sent nothing yet fill the server: a fourth is told 503
    // and closed; once one of the three leaves, a newcomer is served.
    auto a = Connect(), b = Connect(), c = Connect();
    ASSERT_TRUE(RunUntil([&] { return Server().Connections() == 3; }));
    Client refused(io_, Server().Port());
    refused.Read();
    EXPECT_EQ(NextReply(refused).result_int(), 503);
    EXPECT_TRUE(RunUntil([&] { return refused.Closed(); }));
    a->Close();
    ASSERT_TRUE(RunUntil([&] { return Server().Connections() == 2; }));
    Client newcomer(io_, Server().Port());
    newcomer.Read();
    newcomer.Send(Get("/"));
    EXPECT_EQ(NextReply(newcomer).result_int(), 200);

    // The port is taken: a second server says so.
    live::Server second(io_);
    std::string error;
    EXPECT_FALSE(second.Listen("127.0.0.1", Server().Port(), &error));
    EXPECT_EQ(
        error.rfind("cannot listen on 127.0.0.1:" + std::to_string(Server().Port()) + ": ", 0), 0u)
        << error;
}

TEST_F(ServerTest, ClosesIdleAndSlowClients) {
    live::ServerLimits limits;
    limits.requestTimeout = 300ms;
    limits.idleTimeout = 300ms;
    Start(limits);

    Client silent(io_, Server().Port());  // connects and says nothing
    silent.Read();
    Client idle(io_, Server().Port());  // one request, then nothing
    idle.Read();
    idle.Send(Get("/"));
    // Sends a header byte every 20 ms: its request is never whole, though bytes keep coming.
    Client slow(io_, Server().Port());
    slow.Read();
    const std::string endless =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(400, 'a');
    std::size_t sent = 0;
    asio::steady_timer trickle(io_);
    std::function<void()> next = [&] {
        if (slow.Closed() || sent == endless.size()) return;
        slow.Send(endless.substr(sent++, 1));
        trickle.expires_after(20ms);
        trickle.async_wait([&](const ErrorCode& ec) {
            if (!ec) next();
        });
    };
    next();

    EXPECT_EQ(NextReply(idle).result_int(), 200);
    EXPECT_TRUE(RunUntil([&] { return silent.Closed() && idle.Closed() && slow.Closed(); }));
    EXPECT_TRUE(idle.Received().empty());
    EXPECT_TRUE(slow.Received().empty()) << slow.Received();
    EXPECT_LT(sent, endless.size());
    EXPECT_TRUE(RunUntil([&] { return Server().Connections() == 0; }));
}

TEST_F(ServerTest, EventStreamSendsTheSlotsThenEachChange) {
    live::ServerLimits limits;
    limits.keepAliveComment = 200ms;
    Start(limits);
    const std::string one = "event: board\ndata: {\"board\":1}\n\n";
    const std::string two = "event: board\ndata: {\"board\":2}\n\n";
    const std::string oneAgain = "event: board\ndata: {\"board\":1,\"ply\":1}\n\n";
    Server().SetEvent(2, two);
    Server().SetEvent(1, one);

    Client first(io_, Server().Port());
    first.Read();
    first.Send(Get("/events"));
    ASSERT_TRUE(RunUntil([&] { return first.Stream().size() >= 13 + one.size() + two.size(); }));
    const std::string& received = first.Received();
    EXPECT_EQ(received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << received;
    EXPECT_NE(received.find("Content-Type: text/event-stream\r\n"), std::string::npos);
    EXPECT_NE(received.find("Cache-Control: no-cache\r\n"), std::string::npos);
    EXPECT_EQ(first.Stream(), "retry: 2000\n\n" + one + two);

    Server().SetEvent(1, oneAgain);
    ASSERT_TRUE(RunUntil([&] { return first.Stream().ends_with(oneAgain); }));
    EXPECT_EQ(first.Stream(), "retry: 2000\n\n" + one + two + oneAgain);

    // A later client gets the slots as they are now; a quiet stream carries comments.
    Server().RemoveEvent(2);
    Client second(io_, Server().Port());
    second.Read();
    second.Send(Get("/events?reconnect=1"));
    ASSERT_TRUE(
        RunUntil([&] { return second.Received().find(": keep-alive\n\n") != std::string::npos; }));
    EXPECT_EQ(second.Stream(), "retry: 2000\n\n" + oneAgain);
    EXPECT_EQ(Server().EventClients(), 2u);

    first.Close();
    EXPECT_TRUE(RunUntil([&] { return Server().EventClients() == 1; }));
}

TEST_F(ServerTest, DropsAnEventClientThatDoesNotRead) {
    // Whichever limit comes first: its queue grows too long, or a write is not taken.
    live::ServerLimits byQueue;
    byQueue.maxQueuedEventBytes = 256 * 1024;
    byQueue.writeTimeout = 60s;
    live::ServerLimits byTime;
    byTime.maxQueuedEventBytes = std::size_t{1} << 30;
    byTime.writeTimeout = 300ms;
    for (const live::ServerLimits& limits : {byQueue, byTime}) {
        SCOPED_TRACE(limits.writeTimeout.count());
        Start(limits);
        Client reader(io_, Server().Port());
        reader.Read();
        reader.Send(Get("/events"));
        Client stuck(io_, Server().Port());  // never reads
        stuck.Send(Get("/events"));
        ASSERT_TRUE(RunUntil([&] { return Server().EventClients() == 2; }));

        // Until the stuck client is dropped, or 24 MB have gone out: more than the sockets'
        // buffers hold, so that its write has stalled (the time-out then drops it).
        std::string expected = "retry: 2000\n\n";
        for (int i = 0; Server().EventClients() == 2 && i < 1500; ++i) {
            const std::string message =
                "data: " + std::to_string(i) + std::string(16000, '.') + "\n\n";
            Server().SetEvent(1, message);
            expected += message;
            ASSERT_TRUE(RunUntil([&] { return reader.StreamSize() == expected.size(); }));
        }
        EXPECT_TRUE(RunUntil([&] { return Server().EventClients() == 1; }));
        EXPECT_EQ(Server().Connections(), 1u);
        Server().SetEvent(1, "data: after\n\n");
        expected += "data: after\n\n";
        EXPECT_TRUE(RunUntil([&] { return reader.StreamSize() == expected.size(); }));
        EXPECT_TRUE(reader.Stream() == expected);
    }
}

TEST_F(ServerTest, GoesOnWhenClientsLeaveAtAnyByte) {
    Start();
    const std::string games = GamesFile(400);  // a response still being written at the end
    Server().SetDocument("/games.pgn", games);
    const std::string requests[] = {Get("/games.pgn", "If-None-Match: \"x\"\r\n"), Get("/events")};
    for (const std::string& request : requests) {
        for (std::size_t length = 0; length <= request.size(); ++length) {
            SCOPED_TRACE(request.substr(0, length));
            Client client(io_, Server().Port());
            ASSERT_TRUE(RunUntil([&] { return Server().Connections() == 1; }));
            client.Send(request.substr(0, length));
            client.Close(length % 2 == 1);
            ASSERT_TRUE(RunUntil([&] { return Server().Connections() == 0; }));
        }
    }
    Client client(io_, Server().Port());
    client.Read();
    client.Send(Get("/games.pgn"));
    EXPECT_EQ(NextReply(client).body(), games);

    // Stop closes every connection and leaves no work behind on the io_context.
    Client events(io_, Server().Port());
    events.Read();
    events.Send(Get("/events"));
    ASSERT_TRUE(RunUntil([&] { return Server().EventClients() == 1; }));
    Server().Stop();
    io_.restart();
    io_.run_for(kDeadline);
    EXPECT_TRUE(io_.stopped());
    EXPECT_TRUE(client.Closed() && events.Closed());
}

}  // namespace
