// The pairings file: any bytes, read as the file an arbiter edits during a round.
//
// The properties checked, besides what the sanitizers catch: every name and value read is
// valid UTF-8 (checked here by decoding, not with the reader's own test) and holds no
// control character; names are tag names of the PGN standard; board numbers run from 1 to
// 999; a group holds no name twice, a board's tags hold no Board tag, the common tags no
// Result, and every Result is one of the four; problems come in the order of their lines,
// each inside the text. And what was read, written out again as a pairings file, reads
// back the same, without a problem.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "pgn/pairings.h"
#include "support.h"

namespace {

// Decodes text as UTF-8: false for a byte that starts no sequence, a sequence cut short,
// an overlong form, a surrogate, or a code point above U+10FFFF.
bool DecodesAsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra;
        std::uint32_t point;
        if (lead < 0x80) {
            extra = 0;
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            point = lead & 0x07;
        } else {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) return false;
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (point < kLeast[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

void CheckTags(const std::vector<TagPair>& tags, bool board) {
    std::set<std::string> names;
    for (const TagPair& tag : tags) {
        FUZZ_CHECK(!tag.name.empty() && names.insert(tag.name).second);
        const char first = tag.name[0];
        FUZZ_CHECK((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'));
        for (char c : tag.name) {
            FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_');
        }
        FUZZ_CHECK(DecodesAsUtf8(tag.value));
        for (char c : tag.value)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        FUZZ_CHECK(tag.name != "Board");
        if (tag.name == "Result") {
            FUZZ_CHECK(board);
            FUZZ_CHECK(tag.value == "1-0" || tag.value == "0-1" || tag.value == "1/2-1/2" ||
                       tag.value == "*");
        }
    }
}

void WriteTags(const std::vector<TagPair>& tags, std::string* out) {
    for (const TagPair& tag : tags) {
        *out += "[" + tag.name + " \"";
        for (char c : tag.value) {
            if (c == '"' || c == '\\') out->push_back('\\');
            out->push_back(c);
        }
        *out += "\"]\n";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<PairingsProblem> problems;
    Pairings pairings = ReadPairings(text, &problems);

    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    int last = 1;
    for (const PairingsProblem& problem : problems) {
        FUZZ_CHECK(problem.line >= last && problem.line <= lines && !problem.what.empty());
        last = problem.line;
    }
    CheckTags(pairings.common, false);
    std::string written;
    WriteTags(pairings.common, &written);
    for (const auto& [board, tags] : pairings.boards) {
        FUZZ_CHECK(board >= 1 && board <= kMaxBoard);
        CheckTags(tags, true);
        written += "\n[Board \"" + std::to_string(board) + "\"]\n";
        WriteTags(tags, &written);
    }

    std::vector<PairingsProblem> again;
    FUZZ_CHECK(ReadPairings(written, &again) == pairings);
    FUZZ_CHECK(again.empty());
    return 0;
}
