#include "geometry/Shape.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <typeinfo>
#include <vector>

namespace {

using orbg::State;

// Bodies -> regions -> shells -> number of faces.
using Layout = std::vector<std::vector<std::vector<int>>>;
using Names = std::map<const void*, std::string>;

// Builds a shape of the given layout, each object made the way the content reader makes it:
// shells and regions by placement in pool memory, the rest with new. Names every object by kind
// and build order (B0, R0, S0, F0, ...) into names when given.
template <class B = Body, class R = Region, class S = Shell, class F = Face>
SmartPtr<Shape> Build(const Layout& layout, Names* names = nullptr) {
    int counts[4] = {};
    const auto name = [&](const void* object, int kind) {
        if (names)
            (*names)[object] = std::string(1, "BRSF"[kind]) + std::to_string(counts[kind]++);
    };
    SmartPtr<Shape> shape(new Shape);
    for (const auto& regions : layout) {
        auto* body = new B;
        name(body, 0);
        for (const auto& shells : regions) {
            auto* region = new (MemoryPool::Allocate(sizeof(R), nullptr)) R();
            name(region, 1);
            for (int faces : shells) {
                auto* shell = new (MemoryPool::Allocate(sizeof(S), nullptr)) S();
                name(shell, 2);
                for (int f = 0; f < faces; ++f) {
                    SmartPtr<Face> face(new F);
                    name(face.get(), 3);
                    EXPECT_TRUE(shell->AddFace(face.get()));
                }
                EXPECT_TRUE(region->AddShell(shell));
            }
            EXPECT_TRUE(body->AddRegion(region));
        }
        EXPECT_TRUE(shape->AddBody(body));
    }
    return shape;
}

// Records the walk as "B0 R0 ... /R0 /B0" ("/X" is Leave(X)); answers answer at the event
// named trigger.
class Recorder : public orbg::ShapeVisitor {
public:
    using orbg::ShapeVisitor::Visit;

    Recorder(Names names, std::string trigger = "", State answer = State::Continue)
        : names_(std::move(names)), trigger_(std::move(trigger)), answer_(answer) {}

    State Visit(const Face* face) override { return Record(names_[face]); }
    State Visit(const Shell* shell) override { return Record(names_[shell]); }
    State Visit(const Region* region) override { return Record(names_[region]); }
    State Visit(const Body* body) override { return Record(names_[body]); }
    State Leave(const Shell* shell) override { return Record("/" + names_[shell]); }
    State Leave(const Region* region) override { return Record("/" + names_[region]); }
    State Leave(const Body* body) override { return Record("/" + names_[body]); }

    std::string events;
    std::size_t count = 0;

private:
    State Record(const std::string& name) {
        if (++count < 20)
            events += (events.empty() ? "" : " ") + name;
        return name == trigger_ ? answer_ : State::Continue;
    }

    Names names_;
    std::string trigger_;
    State answer_;
};

// Empty levels are walked through, and a wide shell without recursion.
TEST(ShapeWalkTest, EmptyLevelsAndWideShells) {
    Names names;
    SmartPtr<Shape> shape = Build({{}, {{}}, {{0, 100000}}}, &names);
    Recorder recorder(names);
    EXPECT_EQ(shape->Accept(recorder), State::Continue);
    EXPECT_EQ(recorder.count, 100014u);
    EXPECT_EQ(recorder.events, "B0 /B0 B1 R0 /R0 /B1 B2 R1 S0 /S0 S1 F0 F1 F2 F3 F4 F5 F6 F7");
    // A visitor that overrides nothing walks everything, and answers Continue to every kind.
    orbg::ShapeVisitor v;
    for (State state : {v.Visit(static_cast<const DatumPoint*>(nullptr)),
                        v.Visit(static_cast<const DatumAxis*>(nullptr)),
                        v.Visit(static_cast<const DatumPlane*>(nullptr)),
                        v.Visit(static_cast<const DatumCSys*>(nullptr)),
                        v.Visit(static_cast<const Markup*>(nullptr)),
                        v.Visit(static_cast<const Edge*>(nullptr)), shape->Accept(v)})
        EXPECT_EQ(state, State::Continue);
}

struct StopCase {
    const char* label;
    const char* trigger;
    State answer;
    const char* events;
};

class ShapeWalkStopTest : public ::testing::TestWithParam<StopCase> {};

// Body0{Region0{Shell0{F0,F1}, Shell1{F2}}}, Body1{Region1{Shell2{F3}}}. Continue and
// SkipChildren let the walk go on; any other answer ends it and is returned.
TEST_P(ShapeWalkStopTest, AnswersSteerTheWalk) {
    const StopCase& c = GetParam();
    Names names;
    SmartPtr<Shape> shape = Build({{{2, 1}}, {{1}}}, &names);
    Recorder recorder(names, c.trigger, c.answer);
    const bool goesOn = c.answer == State::Continue || c.answer == State::SkipChildren;
    EXPECT_EQ(shape->Accept(recorder), goesOn ? State::Continue : c.answer);
    EXPECT_EQ(recorder.events, c.events);
}

constexpr State Skip = State::SkipChildren, Continue = State::Continue, Stop = State::Stop;
constexpr const char* kFullWalk = "B0 R0 S0 F0 F1 /S0 S1 F2 /S1 /R0 /B0 B1 R1 S2 F3 /S2 /R1 /B1";

// clang-format off
const StopCase kStopCases[] = {
    {"ContinueEverywhere", "", Continue, kFullWalk},
    {"SkipBody", "B0", Skip, "B0 /B0 B1 R1 S2 F3 /S2 /R1 /B1"},
    {"SkipRegion", "R1", Skip, "B0 R0 S0 F0 F1 /S0 S1 F2 /S1 /R0 /B0 B1 R1 /R1 /B1"},
    {"SkipShell", "S0", Skip, "B0 R0 S0 /S0 S1 F2 /S1 /R0 /B0 B1 R1 S2 F3 /S2 /R1 /B1"},
    {"SkipAtFaceGoesOn", "F0", Skip, kFullWalk},
    {"StopAtBody", "B0", Stop, "B0"},
    {"StopAtShell", "S1", Stop, "B0 R0 S0 F0 F1 /S0 S1"},
    {"StopAtFace", "F1", Stop, "B0 R0 S0 F0 F1"},
    {"StopAtLeaveShell", "/S0", Stop, "B0 R0 S0 F0 F1 /S0"},
    {"StopAtLeaveRegion", "/R0", Stop, "B0 R0 S0 F0 F1 /S0 S1 F2 /S1 /R0"},
    {"StopAtLeaveBody", "/B0", Stop, "B0 R0 S0 F0 F1 /S0 S1 F2 /S1 /R0 /B0"},
    {"UnnamedValueStopsAndComesBack", "R1", static_cast<State>(7), "B0 R0 S0 F0 F1 /S0 S1 F2 /S1 /R0 /B0 B1 R1"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Answers, ShapeWalkStopTest, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.label); });

std::tuple<std::size_t, std::size_t, std::size_t> Counts(const MemoryPool::Counters& counters) {
    return {counters.liveBlocks, counters.liveBytes, counters.failedRequests};
}

// Counts live objects of each kind through derived classes, to check what a parent frees.
struct Live {
    static inline int bodies = 0, regions = 0, shells = 0, faces = 0, polyForms = 0, meshes = 0;
};
template <class Base, int* count>
struct Counted : Base {
    Counted() { ++*count; }
    ~Counted() override { --*count; }
};
using CountedBody = Counted<Body, &Live::bodies>;
using CountedRegion = Counted<Region, &Live::regions>;
using CountedShell = Counted<Shell, &Live::shells>;
using CountedFace = Counted<Face, &Live::faces>;
using CountedPolyForm = Counted<PolyForm, &Live::polyForms>;
using CountedMesh = Counted<Mesh, &Live::meshes>;

// A face with a PolyForm holding a pool and two meshes.
struct FullFace : CountedFace {
    FullFace() {
        auto* polyForm = new CountedPolyForm;
        polyForm->SetVertexPool(VertexPool::Construct(1, 3));
        polyForm->AddMesh(new CountedMesh);
        polyForm->AddMesh(new CountedMesh);
        SetPolyForm(polyForm);
    }
};

TEST(ShapeHierarchyTest, ReleasingTheShapeFreesTheWholeHierarchy) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    {
        SmartPtr<Shape> shape = Build<CountedBody, CountedRegion, CountedShell, FullFace>(
            {{{2, 2}, {2, 2}}, {{2, 2}, {2, 2}}});
        EXPECT_EQ(Live::bodies + Live::regions + Live::shells, 2 + 4 + 8);
        EXPECT_EQ(Live::faces + Live::polyForms + Live::meshes, 16 + 16 + 32);
        EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + 12);
    }
    EXPECT_EQ(Live::bodies + Live::regions + Live::shells, 0);
    EXPECT_EQ(Live::faces + Live::polyForms + Live::meshes, 0);
    EXPECT_EQ(Counts(MemoryPool::GetCounters()), Counts(before));
}

// Null and children that already have a parent are refused at every level; null out of range.
TEST(ShapeHierarchyTest, AddRefusesNullAndChildrenWithAParent) {
    SmartPtr<Shape> shape = Build({{{1}}});
    SmartPtr<Shape> other(new Shape);
    Body* body = shape->GetBody(0);
    Region* region = body->GetRegion(0);
    Shell* shell = region->GetShell(0);
    EXPECT_FALSE(shape->AddBody(nullptr) || other->AddBody(body));
    EXPECT_FALSE(body->AddRegion(nullptr));
    ASSERT_TRUE(other->AddBody(new Body));
    EXPECT_FALSE(other->GetBody(0)->AddRegion(region));
    Region spare;
    EXPECT_FALSE(region->AddShell(nullptr) || spare.AddShell(shell));
    EXPECT_FALSE(shell->AddFace(nullptr));
    EXPECT_EQ(shape->GetBody(1), nullptr);
    EXPECT_EQ(shell->GetFace(1), nullptr);
    // Type information crosses the library boundary.
    const RefCounted* asRefCounted = shape.get();
    EXPECT_NE(dynamic_cast<const Shape*>(asRefCounted), nullptr);
    EXPECT_EQ(dynamic_cast<const Face*>(asRefCounted), nullptr);
    EXPECT_EQ(typeid(*static_cast<const RefCounted*>(shell->GetFace(0))), typeid(Face));
    EXPECT_EQ(DynamicPointerCast<Shape>(SmartPtr<RefCounted>(shape)).get(), shape.get());
}

TEST(ShapeHierarchyTest, OneFaceMayBeHeldBySeveralShells) {
    Live::faces = 0;
    {
        SmartPtr<Face> face(new CountedFace);
        Shell first;
        Shell second;
        ASSERT_TRUE(first.AddFace(face.get()));
        ASSERT_TRUE(second.AddFace(face.get()));
        EXPECT_EQ(face->GetReferenceCount(), 3);
        face = nullptr;
        EXPECT_TRUE(first.RemoveFace(first.GetFace(0)));
        EXPECT_EQ(Live::faces, 1);
        EXPECT_FALSE(first.RemoveFace(second.GetFace(0)));
    }
    EXPECT_EQ(Live::faces, 0);
}

// Remove gives a child back to its caller; deleting an attached child takes it off its parent.
TEST(ShapeHierarchyTest, RemoveGivesChildrenBackAndDeleteOfAnAttachedChildDetachesIt) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    SmartPtr<Shape> shape = Build({{{1}, {1}}, {{2}}});
    Body* body = shape->GetBody(0);
    ASSERT_TRUE(shape->RemoveBody(body));
    Region* region = body->GetRegion(1);
    ASSERT_TRUE(body->RemoveRegion(region));
    Shell* shell = region->GetShell(0);
    ASSERT_TRUE(region->RemoveShell(shell));
    EXPECT_FALSE(shape->RemoveBody(body) || body->RemoveRegion(region) ||
                 region->RemoveShell(shell));
    delete shell;
    delete region;
    delete body;
    Body* remaining = shape->GetBody(0);
    delete remaining->GetRegion(0)->GetShell(0);
    EXPECT_EQ(remaining->GetRegion(0)->GetShellCount(), 0u);
    delete remaining->GetRegion(0);
    EXPECT_EQ(remaining->GetRegionCount(), 0u);
    delete remaining;
    EXPECT_EQ(shape->GetBodyCount(), 0u);
    shape = nullptr;
    EXPECT_EQ(Counts(MemoryPool::GetCounters()), Counts(before));
}

TEST(ShapeHierarchyTest, FaceOwnsItsPolyForm) {
    Live::polyForms = 0;
    SmartPtr<Face> face(new Face);
    auto* first = new CountedPolyForm;
    ASSERT_TRUE(face->SetPolyForm(first));
    EXPECT_TRUE(face->SetPolyForm(first));  // the same one again changes nothing
    EXPECT_EQ(Live::polyForms, 1);
    SmartPtr<Face> other(new Face);
    EXPECT_FALSE(other->SetPolyForm(first));
    ASSERT_TRUE(face->SetPolyForm(new CountedPolyForm));
    EXPECT_EQ(Live::polyForms, 1);  // the first one was deleted
    EXPECT_TRUE(other->SetPolyForm(new CountedPolyForm));
    delete other->GetPolyForm();  // deleting an attached PolyForm detaches it
    EXPECT_EQ(other->GetPolyForm(), nullptr);
    EXPECT_TRUE(face->SetPolyForm(nullptr));
    EXPECT_EQ(Live::polyForms, 0);
}

// ---- the pool the shape parts come from ----

// Sizes on both sides of the size classes and of the 512-byte limit of the free lists; blocks
// live at the same time never overlap, and any hint is accepted.
TEST(GeometryPoolTest, BlocksAreAlignedDistinctAndCounted) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    std::vector<std::pair<char*, std::size_t>> blocks;
    int hint = 0;
    for (std::size_t size : {0, 1, 16, 17, 512, 513, 1 << 20}) {
        for (int copy = 0; copy < 300; ++copy) {
            auto* block =
                static_cast<char*>(MemoryPool::Allocate(size, copy % 2 ? &hint : nullptr));
            ASSERT_NE(block, nullptr) << size;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
            std::memset(block, static_cast<int>(blocks.size() & 0xFF), size);
            blocks.emplace_back(block, size);
        }
    }
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + blocks.size());
    std::set<char*> distinct;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        distinct.insert(blocks[i].first);
        for (std::size_t b = 0; b < std::min<std::size_t>(blocks[i].second, 64); ++b)
            ASSERT_EQ(static_cast<unsigned char>(blocks[i].first[b]), i & 0xFF) << i;
    }
    EXPECT_EQ(distinct.size(), blocks.size());  // zero-sized blocks too
    for (auto [block, size] : blocks)
        MemoryPool::Free(block, size);
    MemoryPool::Free(nullptr, 16);  // ignored
    EXPECT_EQ(Counts(MemoryPool::GetCounters()), Counts(before));
}

// Failed requests give null memory, so placement gives null; new throws.
TEST(GeometryPoolTest, InjectedFailuresGiveNullOrThrowAndAreCounted) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    MemoryPool::FailNextRequests(2);
    EXPECT_EQ(new (MemoryPool::Allocate(sizeof(Shell), nullptr)) Shell(), nullptr);
    EXPECT_EQ(MemoryPool::Allocate(4096, nullptr), nullptr);
    EXPECT_EQ(MemoryPool::GetCounters().failedRequests, before.failedRequests + 2);
    void* block = MemoryPool::Allocate(16, nullptr);
    EXPECT_NE(block, nullptr);
    MemoryPool::Free(block, 16);
    MemoryPool::FailNextRequests(1);
    EXPECT_THROW(new Shell, std::bad_alloc);
    MemoryPool::FailNextRequests(0);
}

TEST(GeometryPoolTest, ThreadsShareThePoolSafely) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const auto size = static_cast<std::size_t>(8 + 8 * t);
            std::vector<void*> mine;
            for (int round = 0; round < 20; ++round) {
                for (int i = 0; i < 500; ++i) {
                    mine.push_back(MemoryPool::Allocate(size, nullptr));
                    std::memset(mine.back(), t, size);
                }
                for (void* block : mine)
                    MemoryPool::Free(block, size);
                mine.clear();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Counts(MemoryPool::GetCounters()), Counts(before));
}

}  // namespace
