// pgnlive through the built programs: recorders on virtual lines, each in its own session
// folder, the test playing their boards, and pgnlive publishing the round into a folder and
// over HTTP on 127.0.0.1. Where the machine has no virtual serial line, the round is
// skipped; the test of the folder that cannot be written needs no board.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "pgn/writer.h"
#include "support/board_line.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace {

namespace http = boost::beast::http;

std::string PgnliveBinary() {
    return PGNLIVE_BINARY;
}

// An answer of pgnlive's server.
struct Answer {
    unsigned status = 0;
    std::string etag;
    std::string body;
};

// GET target from 127.0.0.1:port, with If-None-Match when etag is given.
Answer Get(std::uint16_t port, const std::string& target, const std::string& etag = "") {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code error;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, error);
    if (error) return {};
    http::request<http::empty_body> request{http::verb::get, target, 11};
    request.set(http::field::host, "127.0.0.1");
    if (!etag.empty()) request.set(http::field::if_none_match, etag);
    http::write(socket, request, error);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response, error);
    if (error) return {};
    return {response.result_int(), std::string(response[http::field::etag]), response.body()};
}

// pgnlive over folders, publishing into out and on a port of its choice.
class Pgnlive : public Child {
public:
    Pgnlive(const ScratchDir& dir, const std::vector<std::string>& args)
        : Child(Args(args), {}, dir / "pgnlive.out", dir / "pgnlive.err") {}

    // The port it listens on, once it has said so; 0 when it does not.
    std::uint16_t Port() {
        const std::string said = "listening on http://127.0.0.1:";
        std::size_t at = std::string::npos;
        WaitFor([&] { return (at = Err().find(said)) != std::string::npos || Ended(); });
        return at == std::string::npos
                   ? 0
                   : static_cast<std::uint16_t>(std::stoi(Err().substr(at + said.size())));
    }

private:
    static std::vector<std::string> Args(const std::vector<std::string>& args) {
        std::vector<std::string> all{PgnliveBinary()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
};

// A recorder live on device, in its own session folder.
class Recorder : public Child {
public:
    Recorder(const ScratchDir& dir, const std::string& folder, const std::string& device,
             const std::string& name)
        : Child({ChessrecBinary()}, {"CHESSREC_DIR=" + folder, "CHESSREC_PORT=" + device},
                dir / (name + ".out"), dir / (name + ".err")) {}
};

// Waits until the file at path holds text.
bool WaitForText(const std::string& path, const std::string& text) {
    return WaitFor([&] { return ReadBytes(path).find(text) != std::string::npos; });
}

// Replaces path's contents as the recorder does: a temporary file renamed over it.
void Replace(const std::string& path, const std::string& text) {
    WriteBytes(path + ".tmp", text);
    std::filesystem::rename(path + ".tmp", path);
}

const char* kPairings =
    "[Event \"Club Championship\"]\n"
    "[Site \"Hall A\"]\n"
    "[Round \"3\"]\n"
    "\n"
    "[Board \"1\"]\n"
    "[White \"Anand, V.\"]\n"
    "[Black \"Kramnik, V.\"]\n"
    "[WhiteElo \"2750\"]\n"
    "\n"
    "[Board \"2\"]\n"
    "[White \"M\xC3\xBCller, \\\"Eva\\\"\"]\n"
    "[Black \"<img src=x onerror=alert(1)>\"]\n"
    "Board 3 is not paired yet\n";

class PgnliveRound : public NeedsVirtualLine<> {};

}  // namespace

// A round of three boards. Board 1 mates and its board is reset: the finished game stays on
// show, 1-0 and '#', until the next game's first move. Board 2's recorder is killed in the
// middle of its game and started again: the game stays; the arbiter enters a result and
// mends a name in the pairings file, which pgnlive reads again. Board 3's folder comes only
// during the round. The files of --out and the HTTP documents are the same bytes, and each
// PGN document answers a repeated request with 304.
TEST_F(PgnliveRound, ThreeBoardsThroughARound) {
    ScratchDir dir;
    const std::string folder[] = {dir / "board1", dir / "board2", dir / "board3"};
    std::filesystem::create_directory(folder[0]);
    std::filesystem::create_directory(folder[1]);
    const std::string pairings = dir / "pairings.txt";
    WriteBytes(pairings, kPairings);
    const std::string out = dir / "live";
    Pgnlive pgnlive(dir, {"--pairings", pairings, "--out", out, "--listen", "127.0.0.1:0",
                          folder[0], folder[1], folder[2]});
    const std::uint16_t port = pgnlive.Port();
    ASSERT_NE(port, 0) << pgnlive.Err();
    EXPECT_NE(pgnlive.Err().find("pgnlive: " + pairings + ":13: "), std::string::npos)
        << pgnlive.Err();
    EXPECT_NE(pgnlive.Err().find("pgnlive: board 3 waits for its folder " + folder[2]),
              std::string::npos);
    auto game = [&](int board) { return out + "/game-" + std::to_string(board) + ".pgn"; };
    // Board 3 waits: a game without moves.
    EXPECT_EQ(ReadBytes(game(3)),
              "[Event \"Club Championship\"]\r\n[Site \"Hall A\"]\r\n[Date \"????.??.??\"]\r\n"
              "[Round \"3\"]\r\n[White \"White\"]\r\n[Black \"Black\"]\r\n[Result \"*\"]\r\n"
              "[Board \"3\"]\r\n\r\n *\r\n\r\n");

    BoardLine line[3];
    std::vector<std::unique_ptr<Recorder>> recorders;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(line[i].Ok());
        recorders.push_back(std::make_unique<Recorder>(dir, folder[i], line[i].Device(),
                                                       "recorder" + std::to_string(i + 1)));
        line[i].Send(kFirstTime);
    }
    for (const char* move : {"e2e4", "e7e5", "f1c4", "b8c6", "d1h5", "g8f6", "h5f7"})
        line[0].Send(MoveMessage(move));
    for (const char* move : {"e2e4", "c7c5", "g1f3"})
        line[1].Send(MoveMessage(move));
    ASSERT_TRUE(WaitForText(game(1), "4. Qxf7# 1-0\r\n")) << ReadBytes(game(1));
    EXPECT_NE(ReadBytes(game(1)).find("[White \"Anand, V.\"]\r\n[Black \"Kramnik, V.\"]\r\n"
                                      "[Result \"1-0\"]\r\n[Board \"1\"]\r\n[WhiteElo \"2750\"]"),
              std::string::npos);
    ASSERT_TRUE(WaitForText(game(2), "1. e4 c5 2. Nf3 *\r\n")) << ReadBytes(game(2));
    EXPECT_NE(
        ReadBytes(game(2)).find(
            "[White \"M\xC3\xBCller, \\\"Eva\\\"\"]\r\n[Black \"<img src=x onerror=alert(1)>\"]"),
        std::string::npos);

    // Board 1 starts a new game; board 2's recorder dies, and a new one takes its place.
    line[0].Send(NewGameMessage());
    ASSERT_TRUE(recorders[0]->WaitForOutput("New game\n"));
    recorders[1]->Kill();
    recorders[1]->Wait();
    BoardLine again;
    ASSERT_TRUE(again.Ok());
    Recorder restarted(dir, folder[1], again.Device(), "recorder2-again");
    again.Send(kFirstTime);
    ASSERT_TRUE(WaitFor([&] { return !Exists(folder[1] + "/chessrec.000.current.pgn"); }));

    // Board 3's folder and recorder come.
    std::filesystem::create_directory(folder[2]);
    ASSERT_TRUE(line[2].Ok());
    Recorder third(dir, folder[2], line[2].Device(), "recorder3");
    line[2].Send(kFirstTime + MoveMessage("d2d4"));
    ASSERT_TRUE(WaitForText(game(3), "1. d4 *\r\n")) << ReadBytes(game(3)) << pgnlive.Err();
    // Meanwhile board 1's reset and board 2's recovery were seen: both games stay.
    EXPECT_NE(ReadBytes(game(1)).find("4. Qxf7# 1-0\r\n"), std::string::npos);
    EXPECT_NE(ReadBytes(game(2)).find("1. e4 c5 2. Nf3 *\r\n"), std::string::npos);
    line[0].Send(MoveMessage("g1f3"));
    ASSERT_TRUE(WaitForText(game(1), "1. Nf3 *\r\n")) << ReadBytes(game(1));

    // The arbiter: board 2 ended in a draw, and its White is someone else.
    std::string mended = kPairings;
    mended.replace(mended.find("M\xC3\xBCller"), 7, "Meier");
    Replace(pairings, mended + "[Result \"1/2-1/2\"]\n");
    ASSERT_TRUE(WaitForText(game(2), "1. e4 c5 2. Nf3 1/2-1/2\r\n")) << ReadBytes(game(2));
    EXPECT_NE(ReadBytes(game(2)).find("[White \"Meier, \\\"Eva\\\"\"]"), std::string::npos);

    // Over HTTP: the same bytes as the files; a repeated request is not sent again.
    // games.pgn follows the boards' files.
    const std::string games = ReadBytes(game(1)) + ReadBytes(game(2)) + ReadBytes(game(3));
    EXPECT_TRUE(WaitFor([&] { return ReadBytes(out + "/games.pgn") == games; }));
    Answer all = Get(port, "/games.pgn");
    EXPECT_EQ(all.status, 200u);
    EXPECT_EQ(all.body, games);
    EXPECT_EQ(Get(port, "/games.pgn", all.etag).status, 304u);
    EXPECT_EQ(Get(port, "/game-2.pgn").body, ReadBytes(game(2)));
    EXPECT_EQ(Get(port, "/game-4.pgn").status, 404u);

    pgnlive.Stop();
    EXPECT_EQ(pgnlive.Wait(), 0);
    for (int i = 0; i < 3; ++i)
        line[i].Close();
    again.Close();
}

// A file of --out that cannot be written (here a folder stands where its temporary file
// goes) is said once, and tried again at each change; when a write works again, that is said
// too, and the file holds the latest game. The recorders' files are written by the test as
// a recorder writes them.
TEST(PgnliveOut, AFileThatCannotBeWrittenIsSaidOnceAndTriedAgain) {
    ScratchDir dir;
    const std::string board = dir / "board";
    const std::string out = dir / "live";
    std::filesystem::create_directories(board);
    std::filesystem::create_directories(out + "/game-1.pgn.tmp");
    const std::string current = board + "/chessrec.000.current.pgn";
    CPartie game;
    CPosition* position = &game.startingPosition;
    auto play = [&](const char* moves) {
        position = PlayLine(position, moves);
        Replace(current, GameText(game));
    };
    play("e2e4");
    Pgnlive pgnlive(dir, {"--out", out, board});
    const std::string failing = "pgnlive: cannot write " + InFolder(out, "game-1.pgn") + ": ";
    ASSERT_TRUE(WaitFor([&] { return pgnlive.Err().find(failing) != std::string::npos; }))
        << pgnlive.Err();
    play("e7e5");
    ASSERT_TRUE(WaitForText(out + "/games.pgn", "1. e4 e5 *"));
    EXPECT_EQ(pgnlive.Err().find(failing, pgnlive.Err().find(failing) + 1), std::string::npos)
        << pgnlive.Err();
    std::filesystem::remove(out + "/game-1.pgn.tmp");
    play("g1f3");
    ASSERT_TRUE(WaitForText(out + "/game-1.pgn", "1. e4 e5 2. Nf3 *"));
    EXPECT_NE(pgnlive.Err().find("pgnlive: " + InFolder(out, "game-1.pgn") + " written again\n"),
              std::string::npos)
        << pgnlive.Err();
    pgnlive.Stop();
    EXPECT_EQ(pgnlive.Wait(), 0);
}
