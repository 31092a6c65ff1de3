#include "live/pgnlive.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "live/board.h"
#include "live/out_folder.h"
#include "live/publication.h"
#include "live/say.h"
#include "live/server.h"
#include "pgn/pairings.h"
#include "platform/platform.h"

namespace live {
namespace {

constexpr char kUsage[] =
    "Usage : pgnlive [--pairings FILE] [--out FOLDER] [--listen [ADDRESS:]PORT] "
    "BOARD_FOLDER...\n";

constexpr char kHelp[] =
    "\n"
    "Publishes the game of every board of a round while it is played. Board N is the\n"
    "recorder (chessrec) whose session folder (its CHESSREC_DIR) is the Nth BOARD_FOLDER;\n"
    "its game is the game in progress, or the last game it saved until the next one has a\n"
    "move. pgnlive only reads the recorders' files.\n"
    "\n"
    "  --pairings FILE   the round's tags (Event, Site, Date, Round, ...) and each board's\n"
    "                    (White, Black, WhiteElo, BlackElo, Result) as PGN tag pairs in\n"
    "                    groups; [Board \"N\"] names the group's board. Read again within\n"
    "                    a second of each change.\n"
    "  --out FOLDER      games.pgn (every board's game) and game-N.pgn, each replaced\n"
    "                    whenever it changes: for a broadcast's upload tool\n"
    "  --listen [ADDRESS:]PORT\n"
    "                    an HTTP server (ADDRESS 127.0.0.1 unless given; 0.0.0.0 for the\n"
    "                    hall's network): the spectators' page at /, and /games.pgn and\n"
    "                    /game-N.pgn for a broadcast service to poll\n"
    "\n"
    "Stop it with Ctrl-C. The manual page pgnlive(1) says more.\n";

// How often missing folders and the pairings file are looked at.
constexpr std::chrono::milliseconds kTick{500};
// Every this many ticks each board is read again, in case a change was not told.
constexpr int kRescanTicks = 20;

struct Options {
    std::string pairings;
    std::string out;
    bool listen = false;
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;
    std::vector<std::string> folders;
};

// [ADDRESS:]PORT, ADDRESS an IPv4 address, "localhost", or an IPv6 address in brackets.
bool ReadListen(std::string_view text, Options* options) {
    std::string_view port = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view address = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
            address = address.substr(1, address.size() - 2);
        }
        if (address.empty()) return false;
        options->address = address == "localhost" ? "127.0.0.1" : std::string(address);
    }
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    options->listen = true;
    options->port = static_cast<std::uint16_t>(value);
    return true;
}

enum class Parsed { kRun, kHelp, kBad };

Parsed ReadOptions(int argc, char** argv, Options* options, std::string* problem) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") return Parsed::kHelp;
        std::string_view value;
        std::string_view name = arg;
        if (arg.rfind("--", 0) == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string_view::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
            } else if (arg == "--pairings" || arg == "--out" || arg == "--listen") {
                if (i + 1 >= argc) {
                    *problem = std::string(arg) + " needs a value";
                    return Parsed::kBad;
                }
                value = argv[++i];
            }
            if (name == "--pairings") {
                options->pairings = value;
            } else if (name == "--out") {
                options->out = value;
            } else if (name == "--listen") {
                if (!ReadListen(value, options)) {
                    *problem = "--listen takes [ADDRESS:]PORT, not '" + std::string(value) + "'";
                    return Parsed::kBad;
                }
            } else {
                *problem = "unknown option " + std::string(name);
                return Parsed::kBad;
            }
            if (value.empty()) {
                *problem = std::string(name) + " needs a value";
                return Parsed::kBad;
            }
            continue;
        }
        options->folders.emplace_back(arg);
    }
    if (options->folders.empty()) {
        *problem = "no BOARD_FOLDER";
    } else if (options->folders.size() > static_cast<std::size_t>(kMaxBoard)) {
        *problem = "at most " + std::to_string(kMaxBoard) + " boards";
    } else if (options->out.empty() && !options->listen) {
        *problem = "nothing to publish: give --out FOLDER, --listen [ADDRESS:]PORT, or both";
    }
    return problem->empty() ? Parsed::kRun : Parsed::kBad;
}

// The round being published: the boards, the pairings, and where they go.
class Round {
public:
    Round(boost::asio::io_context& io, Options options)
        : io_(io), options_(std::move(options)), timer_(io) {
        for (const std::string& folder : options_.folders)
            boards_.push_back(std::make_unique<Board>(folder));
        watched_.assign(boards_.size(), false);
        published_.resize(boards_.size());
        if (options_.listen) server_ = std::make_unique<Server>(io_);
        if (!options_.out.empty()) out_ = std::make_unique<OutFolder>(options_.out);
    }

    // Publishes the round as it is, and starts watching it. False, said, when it cannot.
    bool Start() {
        platform::FileInfo outInfo;
        if (out_ && !platform::GetFileInfo(options_.out.c_str(), &outInfo) &&
            !platform::CreateFolder(options_.out.c_str())) {
            Say("cannot make the folder %s: %s", options_.out.c_str(),
                platform::ReasonText(platform::LastError()).c_str());
            return false;
        }
        if (server_) {
            std::string error;
            if (!server_->Listen(options_.address, options_.port, &error)) {
                Say("%s", error.c_str());
                return false;
            }
        }
        if (!options_.pairings.empty()) ReadPairingsFile();
        watch_ = platform::CreateFolderWatch();
        if (!watch_.IsValid()) {
            Say("cannot watch the boards' folders: %s; each is read every %d ms instead",
                platform::ReasonText(platform::LastError()).c_str(),
                static_cast<int>(kTick.count()));
        }
        for (std::size_t i = 0; i < boards_.size(); ++i) {
            if (!Watch(i)) {
                Say("board %d waits for its folder %s", static_cast<int>(i + 1),
                    boards_[i]->Folder().c_str());
            }
            boards_[i]->Refresh();
        }
        PublishRound();
        for (std::size_t i = 0; i < boards_.size(); ++i)
            Publish(i);
        PublishGames();
        Announce();
        if (watch_.IsValid()) std::thread([this] { WatchThread(); }).detach();
        ScheduleTick();
        return true;
    }

private:
    // Watches board index's folder; answers whether it is watched.
    bool Watch(std::size_t index) {
        if (!watch_.IsValid()) return false;
        watched_[index] = platform::WatchFolder(watch_, boards_[index]->Folder().c_str(),
                                                static_cast<int>(index));
        return watched_[index];
    }

    void Announce() {
        Say("publishing %d board%s", static_cast<int>(boards_.size()),
            boards_.size() == 1 ? "" : "s");
        if (server_) {
            const bool six = options_.address.find(':') != std::string::npos;
            Say("listening on http://%s%s%s:%u/: the spectators' page; /games.pgn and "
                "/game-N.pgn for broadcasts",
                six ? "[" : "", options_.address.c_str(), six ? "]" : "",
                static_cast<unsigned>(server_->Port()));
        }
        if (out_) Say("writing games.pgn and game-N.pgn into %s", options_.out.c_str());
    }

    // The watch's thread: every change it is told goes to the round's thread. It waits
    // without a time limit: pgnlive ends through its control handler.
    void WatchThread() {
        for (;;) {
            std::vector<int> changed;
            std::vector<int> gone;
            if (!platform::WaitForFolderChanges(watch_, platform::kNoTimeLimit, &changed, &gone)) {
                Say("the folder watch failed: %s; each board is read every %d ms instead",
                    platform::ReasonText(platform::LastError()).c_str(),
                    static_cast<int>(kTick.count()));
                boost::asio::post(io_, [this] { watchFailed_ = true; });
                return;
            }
            if (changed.empty() && gone.empty()) continue;
            boost::asio::post(io_, [this, changed = std::move(changed), gone = std::move(gone)] {
                OnChanges(changed, gone);
            });
        }
    }

    void OnChanges(const std::vector<int>& changed, const std::vector<int>& gone) {
        for (int id : gone) {
            if (id < 0 || static_cast<std::size_t>(id) >= boards_.size()) continue;
            watched_[id] = false;
            Say("board %d: its folder %s is gone; its game stays on show until it is back", id + 1,
                boards_[id]->Folder().c_str());
        }
        std::vector<bool> refreshed(boards_.size(), false);
        for (int id : changed) {
            if (id < 0 || static_cast<std::size_t>(id) >= boards_.size() || refreshed[id]) continue;
            refreshed[id] = true;
            if (boards_[id]->Refresh()) Publish(id);
        }
        PublishGames();
    }

    void ScheduleTick() {
        timer_.expires_after(kTick);
        timer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            Tick();
            ScheduleTick();
        });
    }

    // Missing folders, the pairings file, and now and then every board again.
    void Tick() {
        const bool rescan = ++ticks_ % kRescanTicks == 0 || watchFailed_ || !watch_.IsValid();
        for (std::size_t i = 0; i < boards_.size(); ++i) {
            const bool appeared = !watched_[i] && Watch(i);
            if ((appeared || rescan) && boards_[i]->Refresh()) Publish(i);
        }
        if (!options_.pairings.empty()) {
            platform::FileInfo info;
            const bool there = platform::GetFileInfo(options_.pairings.c_str(), &info);
            if (there != pairingsThere_ || info.size != pairingsInfo_.size ||
                info.modified != pairingsInfo_.modified) {
                ReadPairingsFile();
                PublishRound();
                for (std::size_t i = 0; i < boards_.size(); ++i)
                    Publish(i);
            }
        }
        PublishGames();
    }

    // Reads the pairings file; its bad lines are said, and ignored.
    void ReadPairingsFile() {
        pairingsThere_ = platform::GetFileInfo(options_.pairings.c_str(), &pairingsInfo_);
        std::string text;
        if (!ReadSharedFile(options_.pairings, &text)) {
            if (!pairingsFailing_) {
                Say("cannot read the pairings %s: %s (read again when it changes)",
                    options_.pairings.c_str(), platform::ReasonText(platform::LastError()).c_str());
            }
            pairingsFailing_ = true;
            return;
        }
        pairingsFailing_ = false;
        std::vector<PairingsProblem> problems;
        pairings_ = ReadPairings(text, &problems);
        for (const PairingsProblem& problem : problems)
            Say("%s:%d: %s", options_.pairings.c_str(), problem.line, problem.what.c_str());
    }

    void PublishRound() {
        if (server_) server_->SetEvent(0, RoundEvent(pairings_, static_cast<int>(boards_.size())));
    }

    // Board index's game, when its publication changed: on the server first (the
    // spectators wait for it), then in the folder.
    void Publish(std::size_t index) {
        const int number = static_cast<int>(index + 1);
        BoardPublication publication = PublishBoard(number, boards_[index]->Game(), pairings_);
        BoardPublication& before = published_[index];
        if (publication.pgn == before.pgn && publication.event == before.event) return;
        const std::string name = "game-" + std::to_string(number) + ".pgn";
        if (server_) {
            server_->SetEvent(number, publication.event);
            if (publication.pgn != before.pgn) server_->SetDocument("/" + name, publication.pgn);
        }
        if (publication.pgn != before.pgn) {
            if (out_) out_->Write(name, publication.pgn);
            gamesChanged_ = true;
        }
        before = std::move(publication);
    }

    // games.pgn, when a board's game changed.
    void PublishGames() {
        if (!gamesChanged_) return;
        gamesChanged_ = false;
        std::string games;
        for (const BoardPublication& publication : published_)
            games += publication.pgn;
        if (server_) server_->SetDocument("/games.pgn", games);
        if (out_) out_->Write("games.pgn", games);
    }

    boost::asio::io_context& io_;
    Options options_;
    boost::asio::steady_timer timer_;
    std::vector<std::unique_ptr<Board>> boards_;
    std::vector<bool> watched_;
    std::vector<BoardPublication> published_;
    std::unique_ptr<Server> server_;
    std::unique_ptr<OutFolder> out_;
    platform::FolderWatch watch_;
    bool watchFailed_ = false;
    int ticks_ = 0;
    Pairings pairings_;
    platform::FileInfo pairingsInfo_;
    bool pairingsThere_ = false;
    bool pairingsFailing_ = false;
    bool gamesChanged_ = true;
};

void OnStop() {
    platform::ExitProcess(0);
}

}  // namespace
}  // namespace live

int PgnliveMain(int argc, char** argv) {
    live::Options options;
    std::string problem;
    switch (live::ReadOptions(argc, argv, &options, &problem)) {
        case live::Parsed::kHelp:
            std::printf("%s%s", live::kUsage, live::kHelp);
            std::fflush(stdout);
            return 0;
        case live::Parsed::kBad:
            std::fprintf(stderr, "pgnlive: %s\n%s", problem.c_str(), live::kUsage);
            return 2;
        case live::Parsed::kRun:
            break;
    }
    platform::InstallControlHandler(live::OnStop);
    platform::RaiseOpenFileLimit();  // for a thousand spectators and more
    boost::asio::io_context io;
    live::Round round(io, std::move(options));
    if (!round.Start()) return 1;
    io.run();
    return 0;
}
