// boardsim scripts for tests: sessions of many games with the board's noise in them.
#pragma once

#include <random>
#include <sstream>
#include <string>

// A random session: games of random legal-looking moves with the board's noise between
// them (unknown bytes, 0x86 and 0x8F messages, running clocks, take-backs, illegal moves,
// 0x9A moves). Without takeBacks, every game's moves only grow.
inline std::string NoisyScript(unsigned seed, int games, bool takeBacks = true) {
    std::mt19937 random(seed);
    const char* openings[] = {"e2e4 e7e5 g1f3 b8c6 f1b5 a7a6", "d2d4 d7d5 c2c4 e7e6 b1c3 g8f6",
                              "c2c4 e7e5 b1c3 g8f6 g1f3 b8c6", "e2e4 c7c5 g1f3 d7d6 d2d4 c5d4"};
    const char* noise[] = {"x:00", "x:41",         "x:86010203", "x:8F01020304", "c",   "t",
                           "e2e5", "x:9A01310000", "a1a8",       "x:87",         "x:FF"};
    std::ostringstream script;
    script << "x:00 x:86010203 x:8F01020304 c e2e5 x:FF\n";  // each kind at least once
    if (takeBacks) script << "t\n";
    for (int game = 0; game < games; ++game) {
        std::istringstream moves(openings[random() % 4]);
        std::string move;
        while (moves >> move) {
            script << move << ' ';
            const char* extra = noise[random() % 11];
            if (random() % 3 == 0 && (takeBacks || extra[0] != 't')) script << extra << ' ';
        }
        script << "n\n";
    }
    return script.str();
}
