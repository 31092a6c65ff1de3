#include "game/infos.h"

#include <cstring>
#include <new>

namespace {

void Store(std::optional<std::string>& field, const char* text) {
    field.reset();
    if (text) field.emplace(text);
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Tag names are compared without regard to the case of the letters A to Z.
bool SameName(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

const char* ResultText(std::int32_t result) {
    switch (result) {
        case kResultWhiteWins:
            return "1-0";
        case kResultDraw:
            return "1/2-1/2";
        case kResultBlackWins:
            return "0-1";
        case kResultUnknown:
            return "*";
        default:
            return nullptr;
    }
}

CInfosPartie::CInfosPartie()
    : White("White"),
      Black("Black"),
      Event("?"),
      Date("????.??.??"),
      Round("?"),
      Site("?"),
      result(kResultUnknown),
      LastMove(0),
      Trait(0),
      startOffset(0),
      endOffset(0) {}

CInfosPartie::~CInfosPartie() = default;

void CInfosPartie::SetWhite(const char* text) {
    Store(White, text);
}

void CInfosPartie::SetBlack(const char* text) {
    Store(Black, text);
}

void CInfosPartie::SetDate(const char* text) {
    Store(Date, text);
}

void CInfosPartie::SetRound(const char* text) {
    Store(Round, text);
}

void CInfosPartie::SetSite(const char* text) {
    Store(Site, text);
}

void CInfosPartie::SetEvent(const char* text) {
    Store(Event, text);
}

void CInfosPartie::SetResultText(const char* text) {
    if (std::strcmp(text, "1-0") == 0) {
        result = kResultWhiteWins;
    } else if (std::strcmp(text, "0-1") == 0) {
        result = kResultBlackWins;
    } else if (std::strcmp(text, "1/2-1/2") == 0 || std::strcmp(text, "\xBD-\xBD") == 0) {
        result = kResultDraw;
    } else {
        result = kResultUnknown;
    }
}

void CInfosPartie::SetResult(std::uint8_t code) {
    result = code;
}

void CInfosPartie::Reset() {
    SetWhite(nullptr);
    SetBlack(nullptr);
    result = kNoResult;
    SetDate("??\\??");
    SetRound("?");
    SetSite("?");
    SetEvent("?");
}

CPGNHeader::CPGNHeader(const char* name, const char* value)
    : value(value), name(name), next(nullptr) {}

CPGNHeader::~CPGNHeader() {
    // Unlink each node before it goes, so that a long list costs no deep recursion.
    CPGNHeader* node = next;
    next = nullptr;
    while (node) {
        CPGNHeader* after = node->next;
        node->next = nullptr;
        delete node;
        node = after;
    }
}

CInfosPartie2::CInfosPartie2()
    : next(nullptr), tags(nullptr), fileName{}, reserved{0, -1, 1800, -1, 0, 0, 0, 0} {}

CInfosPartie2::~CInfosPartie2() {
    ECO.reset();
    preview.reset();
    // The rest of the game list goes header by header, each unlinked first.
    CInfosPartie2* header = next;
    next = nullptr;
    while (header) {
        CInfosPartie2* after = header->next;
        header->next = nullptr;
        delete header;
        header = after;
    }
    delete tags;
    tags = nullptr;
}

CPGNHeader* CInfosPartie2::SetTag(const char* name, const char* value) {
    if (!tags) {
        tags = new (std::nothrow) CPGNHeader(name, value);
        return tags;
    }
    CPGNHeader* last = tags;
    for (CPGNHeader* node = tags; node; node = node->next) {
        if (SameName(node->name, name)) {
            node->value = value;
            return node;
        }
        last = node;
    }
    CPGNHeader* node = new (std::nothrow) CPGNHeader(name, value);
    if (node) last->next = node;
    return node;
}

CPGNHeader* CInfosPartie2::RemoveTag(CPGNHeader* node) {
    if (!node || !tags) return nullptr;
    if (tags == node) {
        tags = node->next;
        return node;
    }
    for (CPGNHeader* before = tags; before->next; before = before->next) {
        if (before->next == node) {
            before->next = node->next;
            return node;
        }
    }
    return nullptr;
}

void CInfosPartie2::SetECO(const char* text) {
    Store(ECO, text);
}

void CInfosPartie2::SetPreview(const char* text) {
    preview.reset();
    if (!text) return;
    // The system's code page is single-byte here: a plain cut after byte 30.
    std::size_t length = std::strlen(text);
    if (length > static_cast<std::size_t>(kPreviewLength)) length = kPreviewLength;
    preview.emplace(text, length);
}
