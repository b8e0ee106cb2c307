#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/SerializedContentElement.h"
#include "kernel/SerializedContentVisitor.h"

namespace {

using Tree = SmartPtr<SerializedContentElement>;

Tree MakeTree() {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* a = top->StartContent("a");
    a->AddProperty("count", std::int32_t{3});
    a->AddProperty("label", Symbol("x"));
    SerializedContentElement* b = a->StartContent("b");
    b->AddProperty("weights", std::vector<float>{1, 2});
    b->EndContent();
    a->EndContent();
    top->StartContent("c")->EndContent();
    return top;
}

// Writes down every call of the walk as one line.
class Recorder : public SerializedContentVisitor {
public:
    using SerializedContentVisitor::Visit;
    bool StartElement(const Symbol& name, const SerializedContentElement*) override {
        log.push_back("start " + std::string(name));
        return std::string(name) != skip;
    }
    bool EndAttributes(const Symbol& name) override {
        log.push_back("attributes " + std::string(name));
        return true;
    }
    bool EndElement(const Symbol& name) override {
        log.push_back("end " + std::string(name));
        return true;
    }
    void Visit(const Symbol& name, std::int32_t) override {
        log.push_back("int32 " + std::string(name));
    }
    void Visit(const Symbol& name, const Symbol&) override {
        log.push_back("text " + std::string(name));
    }
    void Visit(const Symbol& name, const std::vector<float>&) override {
        log.push_back("floats " + std::string(name));
    }
    std::vector<std::string> log;
    std::string skip;
};

// A reference taken on a child never frees it: the parent owns its children.
TEST(ContentTreeTest, ParentsOwnTheirChildrenAndFindThemByName) {
    Tree top = MakeTree();
    { Tree child(top->GetChild(0)); }
    SerializedContentElement* a = top->FindChild("a");
    ASSERT_EQ(a, top->GetChild(0));
    EXPECT_EQ(a->GetParent(), top.get());
    EXPECT_FALSE(a->IsOpen());
    EXPECT_EQ(std::get<std::int32_t>(a->FindProperty("count")->value), 3);
    EXPECT_EQ(top->FindChild("zzz"), nullptr);
    EXPECT_EQ(top->GetChild(2), nullptr);
}

TEST(ContentTreeTest, WalkVisitsInDocumentOrderAndCanSkipTheTopAndSubtrees) {
    Tree top = MakeTree();
    Recorder recorder;
    WalkContent(*top, recorder);
    EXPECT_EQ(recorder.log,
              (std::vector<std::string>{"start figure", "attributes figure", "start a",
                                        "int32 count", "text label", "attributes a", "start b",
                                        "floats weights", "attributes b", "end b", "end a",
                                        "start c", "attributes c", "end c", "end figure"}));
    Recorder skipping;
    skipping.skip = "a";
    WalkContent(*top, skipping, WalkTop::ContentsOnly);
    EXPECT_EQ(skipping.log,
              (std::vector<std::string>{"start a", "start c", "attributes c", "end c"}));
}

TEST(ContentTreeTest, DeepTreesWalkAndDestroyWithoutRecursion) {
    Tree top(SerializedContentElement::CreateTopElement("figure"));
    SerializedContentElement* current = top.get();
    for (int i = 0; i < KESTREL_TEST_DEPTH; ++i)
        current = current->StartContent("n");
    Recorder recorder;
    WalkContent(*top, recorder);
    EXPECT_EQ(recorder.log.size(), 3u * (KESTREL_TEST_DEPTH + 1u));
    top = nullptr;  // must not overflow the stack
}

}  // namespace
