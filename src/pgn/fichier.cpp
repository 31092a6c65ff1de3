#include "pgn/fichier.h"

#include <cstdio>
#include <cstring>

#include "pgn/session.h"

CFichier::CFichier() : CFichier(ThePgnSession().pgnPath) {}

CFichier::CFichier(const char* boundPath)
    : path{}, namePart(nullptr), head(nullptr), tail(nullptr), gameCount(0) {
    std::snprintf(path, sizeof path, "%s", boundPath);
    for (char* at = path; *at; ++at) {
        if (platform::IsPathSeparator(*at)) namePart = at + 1;
    }
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
