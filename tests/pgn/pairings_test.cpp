// The pairings file: its groups, and every kind of bad line, told and ignored.
#include "pgn/pairings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Told(const std::vector<PairingsProblem>& problems) {
    std::vector<std::string> told;
    for (const PairingsProblem& problem : problems)
        told.push_back(std::to_string(problem.line) + ": " + problem.what);
    return told;
}

TEST(Pairings, GroupsGiveTheCommonAndTheBoardsTagsAndBadLinesAreToldAndIgnored) {
    const std::string text =
        "\xEF\xBB\xBF% round 3\r\n"                       // 1
        "[Event \"Open A\"]\r\n"                          // 2
        "  [Round \"3\"]  \r\n"                           // 3
        "[Result \"1-0\"]\r\n"                            // 4
        " \t \r\n"                                        // 5
        "[Board \"1\"]\r\n"                               // 6
        "[White \"Dupont, \\\"Jean\\\" \\\\ fils\"]\r\n"  // 7
        "[Black \"Müller, Eva 😀\"]\r\n"                   // 8
        "; the arbiter's result\r\n"                      // 9
        "[Result \"1-0\"]\r\n"                            // 10
        "[White \"Again\"]\r\n"                           // 11
        "[Board \"2\"]\r\n"                               // 12
        "\n"                                              // 13
        "[Board \"002\"]\n"                               // 14
        "[White \"Lef\xE8vre\"]\n"                        // 15
        "[Black \"Martin]\n"                              // 16
        "[WhiteElo \"2100\"] [BlackElo \"2000\"]\n"       // 17
        "[Result \"1-0 \"]\n"                             // 18
        "Black \"x\"\n"                                   // 19
        "[BlackElo \"2000\"]\n"                           // 20
        "[Annotator \"C:\\temp\"]\n"                      // 21
        "[Black \"\xC0\xAF\"]\n"                          // 22 overlong
        "[Black \"\xED\xA0\x80\"]\n"                      // 23 surrogate
        "[Black \"\xF4\x90\x80\x80\"]\n"                  // 24 above U+10FFFF
        "[Black \"\xE2\x82\"]\n"                          // 25 cut short
        "\n"                                              // 26
        "[White \"Nobody\"]\n"                            // 27
        "[Board \"1000\"]\n"                              // 28
        "\n"                                              // 29
        "[Board \"3\"]\xA0\n"                             // 30 Latin-1
        "[White \"Nobody either\"]\n"                     // 31
        "\n"                                              // 32
        "[Board \"1\"]\n"                                 // 33
        "[White \"Twice\"]\n"                             // 34
        "\n\n"                                            // 35, 36
        "[Site \"Paris\"]\n"                              // 37
        "[Event \"Open B\"]";                             // 38
    std::vector<PairingsProblem> problems;
    Pairings pairings = ReadPairings(text, &problems);

    EXPECT_EQ(pairings.common,
              (std::vector<TagPair>{{"Event", "Open A"}, {"Round", "3"}, {"Site", "Paris"}}));
    ASSERT_EQ(pairings.boards.size(), 2u);
    EXPECT_EQ(pairings.boards[1], (std::vector<TagPair>{{"White", "Dupont, \"Jean\" \\ fils"},
                                                        {"Black", "Müller, Eva 😀"},
                                                        {"Result", "1-0"}}));
    EXPECT_EQ(pairings.boards[2], (std::vector<TagPair>{{"BlackElo", "2000"}}));
    EXPECT_EQ(Told(problems),
              (std::vector<std::string>{
                  "4: Result belongs in a board's group (with [Board \"N\"])",
                  "11: White is given twice in this group (first at line 7): the later is ignored",
                  "12: a second Board tag in this group (the first is at line 6)",
                  "15: not valid UTF-8",
                  "16: the value has no closing quote",
                  "17: text after the tag pair (one tag pair a line)",
                  "18: Result must be 1-0, 0-1, 1/2-1/2 or *",
                  "19: not a tag pair: [Name \"value\"] expected",
                  "21: a backslash in the value stands only in \\\" and \\\\",
                  "22: not valid UTF-8",
                  "23: not valid UTF-8",
                  "24: not valid UTF-8",
                  "25: not valid UTF-8",
                  "28: Board must be a number from 1 to 999: the group is ignored",
                  "30: not valid UTF-8: the group is ignored",
                  "33: board 1 is given again (first at line 6): the group is ignored",
                  "38: Event is given twice in the tags of every board (first at line 2): the "
                  "later is ignored",
              }));
}

}  // namespace
