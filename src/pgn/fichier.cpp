#include "pgn/fichier.h"

#include <cstdio>
#include <cstring>

#include "platform/path.h"
#include "session/session.h"

CFichier::CFichier() : CFichier(TheSession().pgnPath) {}

CFichier::CFichier(const char* boundPath)
    : path{}, namePart(nullptr), head(nullptr), tail(nullptr), gameCount(0) {
    std::snprintf(path, sizeof path, "%s", boundPath);
    const std::size_t name = platform::NameOffset(path);
    if (name > 0) namePart = path + name;
}

CFichier::~CFichier() {
    delete head;
    head = tail = nullptr;
}

void CFichier::AddGame(CInfosPartie2* header, std::uint32_t /*endPosition*/) {
    if (tail) {
        tail->next = header;
    } else {
        head = header;
    }
    tail = header;
}

void CFichier::LinkNextStart(CInfosPartie2* a, CInfosPartie2* b) {
    if (b->next) b->next->startOffset = a->endOffset;
}

void CFichier::GamesMoved(CInfosPartie2* /*game*/, std::int64_t /*sizeChange*/) {}

void ShowErrorBox(void* /*owner*/, platform::ErrorCode code, const char* caption) {
    char text[512];
    if (!platform::ErrorText(code, text, sizeof text))
        std::snprintf(text, sizeof text, "Err 0x%08X", static_cast<unsigned>(code));
    platform::ShowErrorBox(caption, text);
}
