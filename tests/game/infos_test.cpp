#include "game/infos.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testkit.h"

namespace {

std::vector<std::string> TagNames(const CInfosPartie2& infos) {
    std::vector<std::string> names;
    for (CPGNHeader* node = infos.tags; node; node = node->next)
        names.push_back(node->name + "=" + node->value);
    return names;
}

TEST(Infos, ResetGivesTheScannersUnsetState) {
    CInfosPartie2 infos;
    infos.SetECO("B20");
    infos.Reset();
    EXPECT_FALSE(infos.White.has_value());
    EXPECT_FALSE(infos.Black.has_value());
    EXPECT_EQ(infos.result, -1);
    EXPECT_EQ(infos.Date, std::string("??\\??"));
    EXPECT_EQ(infos.Date->size(), 5u);
    EXPECT_EQ(infos.Round, "?");
    EXPECT_EQ(infos.Site, "?");
    EXPECT_EQ(infos.Event, "?");
    EXPECT_EQ(infos.ECO, "B20");  // not part of the reset
}

TEST(Infos, ResultFromText) {
    CInfosPartie infos;
    const struct {
        const char* text;
        int code;
    } cases[] = {{"1-0", 0}, {"0-1", 2},  {"1/2-1/2", 1}, {"\xBD-\xBD", 1}, {"*", 3},
                 {"", 3},    {" 1-0", 3}, {"1-0 ", 3},    {"1/2", 3}};
    for (const auto& c : cases) {
        infos.result = -1;
        infos.SetResultText(c.text);
        EXPECT_EQ(infos.result, c.code) << '"' << c.text << '"';
    }
}

TEST(Infos, SetTagMatchesNamesWithoutCaseAndKeepsTheFirstSpelling) {
    CInfosPartie2 infos;
    CPGNHeader* first = infos.SetTag("Annotator", "Me");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(infos.SetTag("PlyCount", "3"), first->next);
    EXPECT_EQ(infos.SetTag("ANNOTATOR", "You"), first);
    EXPECT_EQ(infos.SetTag("plycount", ""), first->next);
    EXPECT_EQ(TagNames(infos), (std::vector<std::string>{"Annotator=You", "PlyCount="}));
    // Only whole names match.
    infos.SetTag("Annot", "x");
    EXPECT_EQ(TagNames(infos).size(), 3u);
}

TEST(Infos, RemoveTagUnlinksByIdentity) {
    CInfosPartie2 infos;
    CPGNHeader* a = infos.SetTag("A", "1");
    CPGNHeader* b = infos.SetTag("B", "2");
    CPGNHeader* c = infos.SetTag("C", "3");
    CPGNHeader stranger("B", "2");
    EXPECT_EQ(infos.RemoveTag(&stranger), nullptr);
    EXPECT_EQ(TagNames(infos), (std::vector<std::string>{"A=1", "B=2", "C=3"}));

    EXPECT_EQ(infos.RemoveTag(a), a);
    EXPECT_EQ(TagNames(infos), (std::vector<std::string>{"B=2", "C=3"}));
    EXPECT_EQ(a->next, b);  // the removed node still points into the list
    a->next = nullptr;
    delete a;

    EXPECT_EQ(infos.RemoveTag(c), c);
    EXPECT_EQ(TagNames(infos), (std::vector<std::string>{"B=2"}));
    delete c;
    EXPECT_EQ(infos.RemoveTag(c), nullptr);
}

TEST(Infos, PreviewKeepsAtMostThirtyBytes) {
    CInfosPartie2 infos;
    std::string thirty(30, 'a');
    infos.SetPreview(thirty.c_str());
    EXPECT_EQ(infos.preview, thirty);
    infos.SetPreview((thirty + "b").c_str());
    EXPECT_EQ(infos.preview, thirty);
}

TEST(Infos, LongChainsAreDestroyedWithoutDeepRecursion) {
    // 20,000 headers and 20,000 tags destroyed on a 64 KiB stack: a destructor that recursed
    // along either chain would overflow it.
    bool ran = platform::testkit::RunOnSmallStack(64 * 1024, [] {
        auto* head = new CInfosPartie2;
        CInfosPartie2* tail = head;
        for (int i = 0; i < 20000; ++i) {
            tail->next = new CInfosPartie2;
            tail = tail->next;
        }
        CPGNHeader* last = head->SetTag("T0", "v");
        for (int i = 1; i < 20000; ++i) {
            last->next = new CPGNHeader("T", "v");
            last = last->next;
        }
        delete head;
    });
    EXPECT_TRUE(ran);
}

}  // namespace
