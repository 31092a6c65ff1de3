// live_bench's spectators: event clients of pgnlive's /events on one io_context thread,
// and what a move is awaited as.
#pragma once

#include <array>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "live_support.h"

namespace bench {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;

// What is awaited after a move: the event or file of board with at least plies moves.
// round tells the moves apart.
struct Expected {
    int round = 0;
    int board = 0;
    int plies = 0;
};

// The board's number and the count of its moves in an event message; false for another
// message. The moves are JSON strings of SAN, which hold no quote.
inline bool ReadBoardEvent(std::string_view message, int* board, int* plies) {
    constexpr std::string_view kHead = "event: board\ndata: {\"board\":";
    if (message.substr(0, kHead.size()) != kHead) return false;
    *board = std::atoi(std::string(message.substr(kHead.size(), 4)).c_str());
    const std::size_t moves = message.find("\"moves\":[");
    if (moves == std::string_view::npos) return false;
    int quotes = 0;
    for (std::size_t i = moves + 9; i < message.size() && message[i] != ']'; ++i)
        quotes += message[i] == '"';
    *plies = quotes / 2;
    return true;
}

// count clients of /events on one io_context thread. Each reads the stream as it comes and
// keeps, per board, the moves of its last event.
class Spectators {
public:
    Spectators(int boards, std::uint16_t port, int count)
        : boards_(boards), endpoint_(asio::ip::make_address("127.0.0.1"), port), count_(count) {
        for (int i = 0; i < count; ++i)
            spectators_.push_back(std::make_unique<Spectator>(io_, boards));
        thread_ = std::thread([this] { io_.run(); });
    }
    ~Spectators() {
        asio::post(io_, [this] {
            for (auto& spectator : spectators_) {
                ErrorCode ignored;
                spectator->socket.close(ignored);
            }
            work_.reset();
        });
        thread_.join();
    }

    // Connects them all, a few at a time, and waits until each has had every board's event.
    bool Connect() {
        asio::post(io_, [this] {
            for (int i = 0; i < kConnecting && next_ < count_; ++i)
                Open(next_++);
        });
        std::unique_lock lock(mutex_);
        const bool done = changed_.wait_for(lock, std::chrono::seconds(120),
                                            [&] { return ready_ + failed_ >= count_; });
        if (!done || failed_ > 0) {
            std::fprintf(stderr, "live_bench: %d of %d event clients connected, %d failed\n",
                         ready_, count_, failed_);
            return false;
        }
        return true;
    }

    void Expect(const Expected& expected) {
        std::lock_guard lock(mutex_);
        expected_ = expected;
        received_ = 0;
    }

    // Waits until every client has had the expected event; answers when the first and the
    // last had it.
    bool Wait(Clock::time_point deadline, Clock::time_point* first, Clock::time_point* last) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return received_ >= count_; })) return false;
        *first = first_;
        *last = last_;
        return true;
    }

    int Failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }

private:
    static constexpr int kConnecting = 32;  // connections being made at once

    struct Spectator {
        Spectator(asio::io_context& io, int boards) : socket(io), plies(boards + 1, -1) {}
        tcp::socket socket;
        std::array<char, 16384> buffer{};
        std::string pending;     // bytes of a message not whole yet
        bool inStream = false;   // the response head has been read
        std::vector<int> plies;  // per board: moves of its last event, -1 before the first
        int seen = 0;            // boards whose event has come
        bool ready = false;      // every board's has
        int counted = 0;         // the last round counted for this client
    };

    void Open(int index) {
        Spectator& spectator = *spectators_[index];
        spectator.socket.async_connect(endpoint_, [this, &spectator](const ErrorCode& error) {
            if (error) return Fail();
            static constexpr std::string_view kRequest =
                "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";
            asio::async_write(spectator.socket, asio::buffer(kRequest),
                              [this, &spectator](const ErrorCode& error, std::size_t) {
                                  if (error) return Fail();
                                  Read(spectator);
                              });
        });
    }

    void Fail() {
        {
            std::lock_guard lock(mutex_);
            ++failed_;
        }
        changed_.notify_all();
        if (next_ < count_) Open(next_++);
    }

    void Read(Spectator& spectator) {
        spectator.socket.async_read_some(asio::buffer(spectator.buffer),
                                         [this, &spectator](const ErrorCode& error, std::size_t n) {
                                             if (error) return Fail();
                                             const Clock::time_point at = Clock::now();
                                             spectator.pending.append(spectator.buffer.data(), n);
                                             if (!Take(spectator, at)) return Fail();
                                             Read(spectator);
                                         });
    }

    // Handles the whole messages received; false for a response that is no event stream.
    bool Take(Spectator& spectator, Clock::time_point at) {
        std::string& pending = spectator.pending;
        if (!spectator.inStream) {
            const std::size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos) return true;
            if (pending.rfind("HTTP/1.1 200", 0) != 0) return false;
            pending.erase(0, end + 4);
            spectator.inStream = true;
        }
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = pending.find("\n\n", start);
            if (end == std::string::npos) break;
            int board = 0;
            int plies = 0;
            if (ReadBoardEvent(std::string_view(pending).substr(start, end - start), &board,
                               &plies) &&
                board >= 1 && board <= boards_) {
                Seen(spectator, board, plies, at);
            }
            start = end + 2;
        }
        pending.erase(0, start);
        return true;
    }

    void Seen(Spectator& spectator, int board, int plies, Clock::time_point at) {
        if (spectator.plies[board] < 0 && ++spectator.seen == boards_) {
            spectator.ready = true;
            {
                std::lock_guard lock(mutex_);
                ++ready_;
            }
            changed_.notify_all();
            if (next_ < count_) Open(next_++);
        }
        spectator.plies[board] = plies;
        std::lock_guard lock(mutex_);
        if (expected_.board != board || plies < expected_.plies ||
            spectator.counted == expected_.round)
            return;
        spectator.counted = expected_.round;
        if (++received_ == 1) first_ = at;
        if (received_ == count_) {
            last_ = at;
            changed_.notify_all();
        }
    }

    const int boards_;
    const tcp::endpoint endpoint_;
    const int count_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
    std::vector<std::unique_ptr<Spectator>> spectators_;
    int next_ = 0;  // the next client to connect (io thread only)
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int ready_ = 0;
    int failed_ = 0;
    Expected expected_;
    int received_ = 0;
    Clock::time_point first_;
    Clock::time_point last_;
};

}  // namespace bench
