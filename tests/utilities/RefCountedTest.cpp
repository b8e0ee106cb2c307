#include "utilities/RefCounted.h"

#include <gtest/gtest.h>

#include <vector>

#include "utilities/SmartPtr.h"

namespace {

// Records what the release protocol does to it.
class Probe : public RefCounted {
public:
    Probe(std::vector<const char*>& log, bool agree) : log_(log), agree_(agree) {}
    ~Probe() override { log_.push_back("deleted"); }
    bool ZeroReferenceCountHook() override {
        log_.push_back("hook");
        seenDuringHook = GetReferenceCount();
        return agree_;
    }
    int seenDuringHook = -1;

private:
    std::vector<const char*>& log_;
    bool agree_;
};

class Derived : public Probe {
    using Probe::Probe;
};

// The hook sees one reference put back; refusing keeps the object with that reference.
TEST(RefCountedTest, LastReleaseAsksTheHookWhichMayKeepTheObject) {
    for (const bool agree : {true, false}) {
        std::vector<const char*> log;
        auto* probe = new Probe(log, agree);
        {
            SmartPtr<Probe> held(probe);
            EXPECT_EQ(probe->GetReferenceCount(), 1);
        }
        if (agree) {
            EXPECT_EQ(log, (std::vector<const char*>{"hook", "deleted"}));
            continue;
        }
        EXPECT_EQ(log, (std::vector<const char*>{"hook"}));
        EXPECT_EQ(probe->seenDuringHook, 1);
        EXPECT_EQ(probe->GetReferenceCount(), 1);
        delete probe;
    }
}

TEST(SmartPtrTest, AssignmentTakesTheNewReferenceBeforeReleasingTheOld) {
    std::vector<const char*> log;
    auto* a = new Probe(log, true);
    auto* b = new Probe(log, true);
    SmartPtr<Probe> p(a);
    SmartPtr<Probe> q(b);
    p = a;  // the same pointer changes nothing
    EXPECT_EQ(a->GetReferenceCount(), 1);
    p = q;  // a loses its only reference
    EXPECT_EQ(log, (std::vector<const char*>{"hook", "deleted"}));
    EXPECT_EQ(b->GetReferenceCount(), 2);
    SmartPtr<Probe>& alias = p;
    p = alias;  // self-assignment keeps b
    EXPECT_EQ(b->GetReferenceCount(), 2);
    p = nullptr;
    q = nullptr;
    EXPECT_EQ(log.size(), 4u);
}

TEST(SmartPtrTest, ConvertsMovesAndCasts) {
    std::vector<const char*> log;
    SmartPtr<Derived> derived(new Derived(log, true));
    SmartPtr<RefCounted> base = derived;
    EXPECT_EQ(derived->GetReferenceCount(), 2);
    SmartPtr<RefCounted> moved = std::move(base);
    EXPECT_FALSE(base);
    EXPECT_EQ(derived->GetReferenceCount(), 2);
    EXPECT_EQ(DynamicPointerCast<Derived>(moved), derived);
    EXPECT_FALSE(DynamicPointerCast<Derived>(SmartPtr<RefCounted>(new RefCounted)));
    derived = nullptr;
    EXPECT_TRUE(log.empty());
    moved = nullptr;
    EXPECT_EQ(log.size(), 2u);
}

}  // namespace
