#include "pgn/scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/pgn_helpers.h"

namespace {

// A complete tag section: the Seven Tag Roster in the order a writer uses.
std::string Roster(const std::string& white, const std::string& black, const std::string& result,
                   const std::string& event = "?") {
    return "[Event \"" + event +
           "\"]\r\n[Site \"?\"]\r\n[Date \"????.??.??\"]\r\n[Round \"?\"]\r\n" + "[White \"" +
           white + "\"]\r\n[Black \"" + black + "\"]\r\n[Result \"" + result + "\"]\r\n";
}

struct Index {
    std::int32_t opened;
    std::int32_t count;
    std::vector<CInfosPartie2*> headers;
    std::string errors;
};

// Opens path with a file object that lives as long as the test's fixture.
class Scanner : public testing::Test {
protected:
    Index OpenPath(const std::string& path) {
        file_ = std::make_unique<CFichier>(path.c_str());
        testing::internal::CaptureStderr();
        Index index;
        index.opened = file_->Open();
        index.errors = testing::internal::GetCapturedStderr();
        index.count = file_->gameCount;
        for (CInfosPartie2* h = file_->head; h; h = h->next)
            index.headers.push_back(h);
        EXPECT_EQ(index.headers.empty() ? nullptr : index.headers.back(), file_->tail);
        return index;
    }
    Index OpenBytes(const std::string& bytes) {
        std::string path = dir_ / "index.pgn";
        WriteBytes(path, bytes);
        return OpenPath(path);
    }

    ScratchDir dir_;
    std::unique_ptr<CFichier> file_;
};

TEST_F(Scanner, TwoGamesWithOffsetsTagsAndPreviews) {
    std::string first =
        "[Event \"Club\"]\r\n[Site \"Here\"]\r\n[Date \"2024.01.01\"]\r\n"
        "[Round \"1\"]\r\n[White \"Anna\"]\r\n[Black \"Bert\"]\r\n"
        "[Result \"1-0\"]\r\n[ECO \"C20\"]\r\n[Annotator \"x\"]\r\n\r\n"
        "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 1-0\r\n\r\n";
    std::string second =
        "[Event \"Open\"]\n[White \"Cleo\"]\n[Black \"Dan\"]\n"
        "[Result \"1/2-1/2\"]\n\n1. d4 d5 1/2-1/2\n";
    Index index = OpenBytes(first + second);
    EXPECT_EQ(index.opened, 1);
    EXPECT_EQ(index.errors, "");
    ASSERT_EQ(index.count, 2);
    ASSERT_EQ(index.headers.size(), 2u);

    const CInfosPartie2& a = *index.headers[0];
    EXPECT_EQ(a.startOffset, 0u);
    EXPECT_EQ(a.White, "Anna");
    EXPECT_EQ(a.Black, "Bert");
    EXPECT_EQ(a.Event, "Club");
    EXPECT_EQ(a.Site, "Here");
    EXPECT_EQ(a.Date, "2024.01.01");
    EXPECT_EQ(a.Round, "1");
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.ECO, "C20");
    EXPECT_EQ(a.preview, "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 ");
    EXPECT_EQ(a.tags, nullptr);  // further tags are not indexed

    const CInfosPartie2& b = *index.headers[1];
    EXPECT_EQ(b.startOffset, first.size());
    EXPECT_EQ(b.White, "Cleo");
    EXPECT_EQ(b.result, 1);
    EXPECT_EQ(b.Date, std::string("??\\??"));  // never given: as the reset left it
    EXPECT_EQ(b.Site, "?");
    EXPECT_EQ(b.Round, "?");
    EXPECT_FALSE(b.ECO.has_value());
    EXPECT_EQ(b.preview, "1. d4 d5 1/2-1/2");
}

TEST_F(Scanner, ResultsSetUpAndValues) {
    std::string bytes =
        Roster("A", "B", "*") + "[SetUp \"1\"]\r\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\r\n" +
        "\r\n1. Kd2 *\r\n\r\n" + Roster("C", "D", "\xBD-\xBD") + "\r\n1. e4 1/2-1/2\r\n" +
        Roster("E \\\"x", "F", "0-1") + "\r\n 0-1\r\n" +
        // A value without its closing quote runs to the end of the line; without a quote
        // it is empty.
        "[Event \"Unclosed\r\n[Site Bare]\r\n[White \"G\"]\r\n[Black \"H\"]\r\n[Result \"?\"]\r\n" +
        "\r\nmoves\r\n";
    Index index = OpenBytes(bytes);
    ASSERT_EQ(index.count, 4);
    EXPECT_EQ(index.headers[0]->result, 3);
    EXPECT_EQ(index.headers[0]->preview, "(Position)");
    EXPECT_EQ(index.headers[1]->result, 1);
    EXPECT_EQ(index.headers[1]->preview, "1. e4 1/2-1/2");  // the set-up flag was reset
    EXPECT_EQ(index.headers[2]->White, "E \\");             // quotes are not unescaped
    EXPECT_EQ(index.headers[2]->result, 2);
    EXPECT_EQ(index.headers[2]->preview, " 0-1");
    EXPECT_EQ(index.headers[3]->Event, "Unclosed");
    EXPECT_EQ(index.headers[3]->Site, "");
    EXPECT_EQ(index.headers[3]->result, 3);
}

TEST_F(Scanner, IncompleteTagSectionsAbsorbTheNextGame) {
    // A tag name in lower case, or without its space, is not recognised: the first game
    // never becomes complete and takes the second game's tags, at its own offset.
    std::string bytes =
        "[Event \"One\"]\r\n[white \"a\"]\r\n[Black\"b\"]\r\n[Result \"1-0\"]\r\n"
        "\r\n1. e4 1-0\r\n\r\n" +
        Roster("C", "D", "0-1", "Two") + "\r\n1. d4 0-1\r\n";
    Index index = OpenBytes(bytes);
    ASSERT_EQ(index.count, 1);
    EXPECT_EQ(index.headers[0]->startOffset, 0u);
    EXPECT_EQ(index.headers[0]->Event, "Two");
    EXPECT_EQ(index.headers[0]->White, "C");
    EXPECT_EQ(index.headers[0]->preview, "1. d4 0-1");
}

TEST_F(Scanner, GamesWithoutMoveTextAreNotIndexed) {
    EXPECT_EQ(OpenBytes(Roster("A", "B", "*")).count, 0);
    EXPECT_EQ(OpenBytes(Roster("A", "B", "*") + "\r\n\r\n\r\n").count, 0);
    // The file ends inside a tag section, inside a tag line.
    EXPECT_EQ(OpenBytes("1. e4 *\r\n" + Roster("A", "B", "*") + "[Annotator \"x").count, 0);
    EXPECT_EQ(OpenBytes("").count, 0);
}

TEST_F(Scanner, BlankLinesBeforeTheMoveTextAreSwallowed) {
    Index index = OpenBytes(Roster("A", "B", "*") + "\r\n\r\n\n\r\r\n1. c4 *\r\n");
    ASSERT_EQ(index.count, 1);
    EXPECT_EQ(index.headers[0]->preview, "1. c4 *");
}

TEST_F(Scanner, ALineEndSplitBetweenReadsClosesACompleteGame) {
    // The 254-byte tag line and its CR fill one read; the LF then arrives as an empty line.
    std::string first = Roster("A", "B", "1-0");
    std::string longTag = "[Annotator \"" + std::string(240, 'x') + "\"]";
    ASSERT_EQ(longTag.size(), 254u);
    std::string second = Roster("C", "D", "0-1");
    Index index = OpenBytes(first + longTag + "\r\n" + second + "\r\n1. d4 0-1\r\n");
    ASSERT_EQ(index.count, 2);
    EXPECT_EQ(index.headers[0]->preview, "");
    EXPECT_EQ(index.headers[1]->startOffset, first.size() + longTag.size() + 2);
    EXPECT_EQ(index.headers[1]->White, "C");
}

TEST_F(Scanner, OpenAgainStartsAfresh) {
    std::string path = dir_ / "again.pgn";
    WriteBytes(path, Roster("A", "B", "*") + "\r\n*\r\n" + Roster("C", "D", "*") + "\r\n*\r\n");
    EXPECT_EQ(OpenPath(path).count, 2);
    WriteBytes(path, Roster("E", "F", "*") + "\r\n*\r\n");
    ASSERT_EQ(file_->Open(), 1);
    EXPECT_EQ(file_->gameCount, 1);
    ASSERT_NE(file_->head, nullptr);
    EXPECT_EQ(file_->head, file_->tail);
    EXPECT_EQ(file_->head->White, "E");
}

TEST_F(Scanner, OpenFailsOnAMissingOrLockedFile) {
    Index missing = OpenPath(dir_ / "missing.pgn");
    EXPECT_EQ(missing.opened, 0);
    EXPECT_EQ(missing.count, 0);
    EXPECT_TRUE(missing.headers.empty());
    std::string absent = dir_ / "missing.pgn";
    platform::FileHandle none =
        platform::OpenFile(absent.c_str(), platform::kRead, platform::Share::kNone,
                           platform::Disposition::kOpenExisting);
    ASSERT_FALSE(none.IsValid());
    char text[512];
    ASSERT_TRUE(platform::ErrorText(platform::LastError(), text, sizeof text));
    EXPECT_EQ(missing.errors, std::string("Message not available: ") + text + "\n");

    std::string path = dir_ / "locked.pgn";
    WriteBytes(path, Roster("A", "B", "*") + "\r\n*\r\n");
    platform::FileHandle holder =
        platform::OpenFile(path.c_str(), platform::kRead, platform::Share::kNone,
                           platform::Disposition::kOpenExisting);
    ASSERT_TRUE(holder.IsValid());
    Index locked = OpenPath(path);
    EXPECT_EQ(locked.opened, 0);
    EXPECT_EQ(locked.errors.rfind("Message not available: ", 0), 0u) << locked.errors;
    EXPECT_EQ(std::count(locked.errors.begin(), locked.errors.end(), '\n'), 1);
    platform::CloseFile(holder);
    EXPECT_EQ(OpenPath(path).count, 1);
}

// The pieces ReadChunk delivers for bytes, each with the size it reports.
std::vector<std::pair<std::string, std::uint32_t>> Chunks(const std::string& bytes,
                                                          std::size_t limit = 100) {
    ScratchDir dir;
    std::string path = dir / "chunks";
    WriteBytes(path, bytes);
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kRead, platform::Share::kNone,
                           platform::Disposition::kOpenExisting);
    std::vector<std::pair<std::string, std::uint32_t>> chunks;
    char buffer[256];
    std::uint32_t size = sizeof buffer;
    while (chunks.size() < limit && ReadChunk(buffer, &size, file)) {
        chunks.emplace_back(buffer, size);
        size = sizeof buffer;
    }
    platform::CloseFile(file);
    return chunks;
}

TEST(ReadChunk, LinesAndPiecesOfLongLines) {
    using Pieces = std::vector<std::pair<std::string, std::uint32_t>>;
    EXPECT_EQ(Chunks("ab\r\n\r\ncd\n\nef"), (Pieces{{"ab", 2}, {"cd", 2}, {"ef", 256}}));
    // A long line is cut at its last space; the space begins the next piece.
    std::string words = std::string(150, 'a') + " " + std::string(150, 'b') + "\r\n";
    EXPECT_EQ(Chunks(words),
              (Pieces{{std::string(150, 'a'), 150}, {" " + std::string(150, 'b'), 151}}));
    // Without a space: pieces of 255 bytes.
    // The last bytes of a file without a line end come whole, spaces and all.
    EXPECT_EQ(Chunks("[Result \"1-0\"]"), (Pieces{{"[Result \"1-0\"]", 256}}));
    EXPECT_EQ(Chunks(std::string(600, 'z')), (Pieces{{std::string(255, 'z'), 256},
                                                     {std::string(255, 'z'), 256},
                                                     {std::string(90, 'z'), 256}}));
}

TEST(ReadChunk, APieceWhoseOnlySpaceIsItsFirstByteIsDeliveredWhole) {
    // Cut at that space, the piece would be empty and the next read would start at the
    // same byte again, for ever.
    std::string line = std::string(200, 'x') + " " + std::string(300, 'y') + "\r\n[Next]\r\n";
    auto chunks = Chunks(line);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].first, std::string(200, 'x'));
    EXPECT_EQ(chunks[1].first, " " + std::string(254, 'y'));
    EXPECT_EQ(chunks[2].first, std::string(46, 'y'));
    EXPECT_EQ(chunks[3].first, "[Next]");
}

TEST_F(Scanner, LongCommentsAndUrlsInAGameAreScannedThrough) {
    std::string url = "{see https://example.org/" + std::string(600, 'p') + " }";
    Index index = OpenBytes(Roster("A", "B", "*") + "\r\n" + url + " 1. e4 *\r\n\r\n" +
                            Roster("C", "D", "*") + "\r\n1. d4 " + url + "\r\n");
    ASSERT_EQ(index.count, 2);
    EXPECT_EQ(index.headers[0]->preview, "{see");  // the first piece, cut at its last space
    EXPECT_EQ(index.headers[1]->White, "C");
}

TEST_F(Scanner, AnyBytesAtAll) {
    // Binary noise rich in the bytes the scanner looks at, NUL bytes included, and lines
    // of every length: the scan ends and stays inside its buffers.
    std::mt19937 random(12345);
    const char alphabet[] = {'[', ']', '"', ' ', '\r', '\n', '\0', 'W', '\xBD', '\xFF'};
    for (int round = 0; round < 20; ++round) {
        std::string bytes;
        std::size_t size = 1 + random() % 20000;
        for (std::size_t i = 0; i < size; ++i) {
            std::uint32_t r = random();
            bytes += (r & 1) ? alphabet[(r >> 1) % sizeof alphabet] : static_cast<char>(r >> 8);
        }
        if (round % 2) bytes += Roster("A", "B", "1-0") + "\r\n1. e4 1-0";  // no line end
        EXPECT_EQ(OpenBytes(bytes).opened, 1);
    }
    Index tail = OpenBytes(std::string(3, '\0') + "\r\n" + Roster("A", "B", "1-0") + "\r\n1. e4");
    ASSERT_EQ(tail.count, 1);
    EXPECT_EQ(tail.headers[0]->preview, "1. e4");
    EXPECT_EQ(tail.headers[0]->startOffset, 5u);
    // NUL bytes end a value, as they end any text.
    Index nul = OpenBytes(
        std::string("[White \"Al\0ice\"]\r\n[Black \"B\"]\r\n[Result \"*\"]\r\n1. e4\r\n", 52));
    ASSERT_EQ(nul.count, 1);
    EXPECT_EQ(nul.headers[0]->White, "Al");
}

TEST(QuotedValue, CopiesBetweenQuotesWithinTheDestination) {
    char value[8];
    QuotedValue(" \"abc\" rest", value, sizeof value);
    EXPECT_STREQ(value, "abc");
    QuotedValue(" no quote", value, sizeof value);
    EXPECT_STREQ(value, "");
    QuotedValue("\"unclosed", value, sizeof value);
    EXPECT_STREQ(value, "unclose");  // cut to the destination
    QuotedValue("\"\"", value, sizeof value);
    EXPECT_STREQ(value, "");
}

}  // namespace
