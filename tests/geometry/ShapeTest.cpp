#include "geometry/Shape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

namespace {

using orbg::State;

// Bodies -> regions -> shells -> number of faces.
using Layout = std::vector<std::vector<std::vector<int>>>;

// Builds a shape of the given layout, each object made the way the content reader makes it:
// shells and regions by placement in pool memory, the rest with new.
SmartPtr<Shape> Build(const Layout& layout) {
    SmartPtr<Shape> shape(new Shape);
    for (const auto& regions : layout) {
        auto* body = new Body;
        for (const auto& shells : regions) {
            auto* region = new (MemoryPool::Allocate(sizeof(Region), nullptr)) Region();
            for (int faces : shells) {
                auto* shell = new (MemoryPool::Allocate(sizeof(Shell), nullptr)) Shell();
                for (int f = 0; f < faces; ++f) {
                    SmartPtr<Face> face(new Face);
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

// Names every object of a shape by kind and build order (B0, R0, S0, F0, ...), through the
// read accessors.
std::map<const void*, std::string> NameObjects(const Shape& shape) {
    std::map<const void*, std::string> names;
    int counts[4] = {};
    const auto name = [&](const void* object, int kind) {
        names[object] = std::string(1, "BRSF"[kind]) + std::to_string(counts[kind]++);
    };
    for (std::size_t b = 0; b < shape.GetBodyCount(); ++b) {
        const Body* body = shape.GetBody(b);
        name(body, 0);
        for (std::size_t r = 0; r < body->GetRegionCount(); ++r) {
            const Region* region = body->GetRegion(r);
            name(region, 1);
            for (std::size_t s = 0; s < region->GetShellCount(); ++s) {
                const Shell* shell = region->GetShell(s);
                name(shell, 2);
                for (std::size_t f = 0; f < shell->GetFaceCount(); ++f)
                    name(shell->GetFace(f), 3);
            }
        }
    }
    return names;
}

// Records the walk as names; "/X" is Leave(X). Returns answer at the event named trigger.
class Recorder : public orbg::ShapeVisitor {
public:
    using orbg::ShapeVisitor::Visit;

    Recorder(std::map<const void*, std::string> names, std::string trigger = "",
             State answer = State::Continue)
        : names_(std::move(names)), trigger_(std::move(trigger)), answer_(answer) {}

    State Visit(const Face* face) override { return Record(names_[face]); }
    State Visit(const Shell* shell) override { return Record(names_[shell]); }
    State Visit(const Region* region) override { return Record(names_[region]); }
    State Visit(const Body* body) override { return Record(names_[body]); }
    State Leave(const Shell* shell) override { return Record("/" + names_[shell]); }
    State Leave(const Region* region) override { return Record("/" + names_[region]); }
    State Leave(const Body* body) override { return Record("/" + names_[body]); }

    std::vector<std::string> events;

private:
    State Record(const std::string& name) {
        events.push_back(name);
        return name == trigger_ ? answer_ : State::Continue;
    }

    std::map<const void*, std::string> names_;
    std::string trigger_;
    State answer_;
};

// Empty levels are walked through, and a wide shell without recursion.
TEST(ShapeWalkTest, EmptyLevelsAndWideShells) {
    SmartPtr<Shape> shape = Build({{}, {{}}, {{0, 100000}}});
    Recorder recorder(NameObjects(*shape));
    EXPECT_EQ(shape->Accept(recorder), State::Continue);
    ASSERT_EQ(recorder.events.size(), 100014u);
    const std::vector<std::string> head(recorder.events.begin(), recorder.events.begin() + 10);
    EXPECT_EQ(head, (std::vector<std::string>{"B0", "/B0", "B1", "R0", "/R0", "/B1", "B2", "R1",
                                              "S0", "/S0"}));
    EXPECT_EQ(recorder.events[10], "S1");
    EXPECT_EQ(recorder.events[100010], "F99999");
    EXPECT_EQ(recorder.events.back(), "/B2");
}

struct StopCase {
    const char* label;
    const char* trigger;
    State answer;
    State result;
    std::vector<std::string> events;
};

class ShapeWalkStopTest : public ::testing::TestWithParam<StopCase> {};

// Body0{Region0{Shell0{F0,F1}, Shell1{F2}}}, Body1{Region1{Shell2{F3}}}.
TEST_P(ShapeWalkStopTest, AnswersSteerTheWalk) {
    const StopCase& c = GetParam();
    SmartPtr<Shape> shape = Build({{{2, 1}}, {{1}}});
    Recorder recorder(NameObjects(*shape), c.trigger, c.answer);
    EXPECT_EQ(shape->Accept(recorder), c.result);
    EXPECT_EQ(recorder.events, c.events);
}

const std::vector<std::string> kFullWalk = {"B0", "R0", "S0",  "F0",  "F1",  "/S0",
                                            "S1", "F2", "/S1", "/R0", "/B0", "B1",
                                            "R1", "S2", "F3",  "/S2", "/R1", "/B1"};
constexpr State Skip = State::SkipChildren, Continue = State::Continue, Stop = State::Stop;

// clang-format off
const StopCase kStopCases[] = {
    {"ContinueEverywhere", "", Continue, Continue, kFullWalk},
    {"SkipBody", "B0", Skip, Continue, {"B0", "/B0", "B1", "R1", "S2", "F3", "/S2", "/R1", "/B1"}},
    {"SkipRegion", "R1", Skip, Continue,
     {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1", "/R1", "/B1"}},
    {"SkipShell", "S0", Skip, Continue,
     {"B0", "R0", "S0", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1", "S2", "F3", "/S2", "/R1", "/B1"}},
    {"SkipAtFaceGoesOn", "F0", Skip, Continue, kFullWalk},
    {"SkipAtLeaveGoesOn", "/S1", Skip, Continue, kFullWalk},
    {"StopAtFace", "F1", Stop, Stop, {"B0", "R0", "S0", "F0", "F1"}},
    {"StopAtBody", "B0", Stop, Stop, {"B0"}},
    {"StopAtLeaveShell", "/S0", Stop, Stop, {"B0", "R0", "S0", "F0", "F1", "/S0"}},
    {"StopAtLeaveBody", "/B0", Stop, Stop, {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0"}},
    {"UnnamedValueStopsAndComesBack", "R1", static_cast<State>(7), static_cast<State>(7),
     {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Answers, ShapeWalkStopTest, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.label); });

// A visitor that overrides nothing walks everything, and answers Continue to every kind.
TEST(ShapeWalkTest, BaseVisitorAnswersContinueEverywhere) {
    orbg::ShapeVisitor visitor;
    EXPECT_EQ(visitor.Visit(static_cast<const DatumPoint*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumAxis*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumPlane*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumCSys*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Markup*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Edge*>(nullptr)), State::Continue);
    EXPECT_EQ(Build({{{3}}, {{1, 1}}})->Accept(visitor), State::Continue);
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

TEST(ShapeHierarchyTest, ReleasingTheShapeFreesTheWholeHierarchy) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    {
        SmartPtr<Shape> shape(new Shape);
        for (int b = 0; b < 2; ++b) {
            auto* body = new CountedBody;
            for (int r = 0; r < 2; ++r) {
                auto* region =
                    new (MemoryPool::Allocate(sizeof(CountedRegion), nullptr)) CountedRegion();
                for (int s = 0; s < 2; ++s) {
                    auto* shell =
                        new (MemoryPool::Allocate(sizeof(CountedShell), nullptr)) CountedShell();
                    for (int f = 0; f < 2; ++f) {
                        SmartPtr<Face> face(new CountedFace);
                        auto* polyForm = new CountedPolyForm;
                        polyForm->SetVertexPool(VertexPool::Construct(1, 3));
                        polyForm->AddMesh(new CountedMesh);
                        polyForm->AddMesh(new CountedMesh);
                        face->SetPolyForm(polyForm);
                        shell->AddFace(face.get());
                    }
                    region->AddShell(shell);
                }
                body->AddRegion(region);
            }
            shape->AddBody(body);
        }
        EXPECT_EQ(Live::bodies + Live::regions + Live::shells, 2 + 4 + 8);
        EXPECT_EQ(Live::faces + Live::polyForms + Live::meshes, 16 + 16 + 32);
        EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + 12);
    }
    EXPECT_EQ(Live::bodies + Live::regions + Live::shells, 0);
    EXPECT_EQ(Live::faces + Live::polyForms + Live::meshes, 0);
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks);
    EXPECT_EQ(MemoryPool::GetCounters().liveBytes, before.liveBytes);
}

// Children come back in order, null out of range; null and children with a parent are refused.
TEST(ShapeHierarchyTest, AddKeepsOrderAndRefusesNullAndChildrenWithAParent) {
    SmartPtr<Shape> shape(new Shape);
    SmartPtr<Shape> other(new Shape);
    auto* first = new Body;
    auto* second = new Body;
    EXPECT_FALSE(shape->AddBody(nullptr));
    ASSERT_TRUE(shape->AddBody(first));
    ASSERT_TRUE(shape->AddBody(second));
    EXPECT_FALSE(shape->AddBody(first));
    EXPECT_FALSE(other->AddBody(first));
    EXPECT_EQ(shape->GetBodyCount(), 2u);
    EXPECT_EQ(other->GetBodyCount(), 0u);
    EXPECT_EQ(shape->GetBody(1), second);
    EXPECT_EQ(shape->GetBody(2), nullptr);
    EXPECT_EQ(first->GetParent(), shape.get());
    auto* region = new Region;
    EXPECT_FALSE(first->AddRegion(nullptr));
    ASSERT_TRUE(first->AddRegion(region));
    EXPECT_FALSE(second->AddRegion(region));
    EXPECT_EQ(first->GetRegionCount(), 1u);
    EXPECT_EQ(first->GetRegion(0), region);
    EXPECT_EQ(first->GetRegion(1), nullptr);
    EXPECT_EQ(region->GetParent(), first);
    auto* shell = new Shell;
    EXPECT_FALSE(region->AddShell(nullptr));
    ASSERT_TRUE(region->AddShell(shell));
    Region spare;
    EXPECT_FALSE(spare.AddShell(shell));
    EXPECT_EQ(region->GetShellCount(), 1u);
    EXPECT_EQ(region->GetShell(7), nullptr);
    EXPECT_EQ(shell->GetParent(), region);
    SmartPtr<Face> face(new Face);
    EXPECT_FALSE(shell->AddFace(nullptr));
    ASSERT_TRUE(shell->AddFace(face.get()));
    EXPECT_EQ(shell->GetFace(0), face.get());
    EXPECT_EQ(shell->GetFace(1), nullptr);
    EXPECT_EQ(face->GetReferenceCount(), 2);
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
        EXPECT_EQ(first.GetFaceCount(), 0u);
        EXPECT_EQ(Live::faces, 1);
        EXPECT_FALSE(first.RemoveFace(second.GetFace(0)));
    }
    EXPECT_EQ(Live::faces, 0);
}

TEST(ShapeHierarchyTest, RemoveGivesChildrenBackAndDeleteOfAnAttachedChildDetachesIt) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    SmartPtr<Shape> shape = Build({{{1}, {1}}, {{2}}});
    Body* body = shape->GetBody(0);
    ASSERT_TRUE(shape->RemoveBody(body));
    EXPECT_EQ(body->GetParent(), nullptr);
    EXPECT_EQ(shape->GetBodyCount(), 1u);
    EXPECT_FALSE(shape->RemoveBody(body));
    Region* region = body->GetRegion(1);
    ASSERT_TRUE(body->RemoveRegion(region));
    EXPECT_EQ(body->GetRegionCount(), 1u);
    Shell* shell = region->GetShell(0);
    ASSERT_TRUE(region->RemoveShell(shell));
    EXPECT_FALSE(region->RemoveShell(shell));
    EXPECT_EQ(region->GetShellCount(), 0u);
    delete shell;
    delete region;
    delete body;
    // Deleting an attached child: the parent's list no longer mentions it.
    Body* remaining = shape->GetBody(0);
    delete remaining->GetRegion(0)->GetShell(0);
    EXPECT_EQ(remaining->GetRegion(0)->GetShellCount(), 0u);
    delete remaining->GetRegion(0);
    EXPECT_EQ(remaining->GetRegionCount(), 0u);
    delete remaining;
    EXPECT_EQ(shape->GetBodyCount(), 0u);
    shape = nullptr;
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks);
}

TEST(ShapeHierarchyTest, FaceOwnsItsPolyForm) {
    Live::polyForms = 0;
    SmartPtr<Face> face(new Face);
    EXPECT_EQ(face->GetPolyForm(), nullptr);
    auto* first = new CountedPolyForm;
    ASSERT_TRUE(face->SetPolyForm(first));
    EXPECT_EQ(static_cast<const Face&>(*face).GetPolyForm(), first);
    EXPECT_TRUE(face->SetPolyForm(first));  // the same one again changes nothing
    EXPECT_EQ(Live::polyForms, 1);
    SmartPtr<Face> other(new Face);
    EXPECT_FALSE(other->SetPolyForm(first));
    EXPECT_EQ(other->GetPolyForm(), nullptr);
    ASSERT_TRUE(face->SetPolyForm(new CountedPolyForm));
    EXPECT_EQ(Live::polyForms, 1);  // the first one was deleted
    EXPECT_TRUE(other->SetPolyForm(new CountedPolyForm));
    delete other->GetPolyForm();  // deleting an attached PolyForm detaches it
    EXPECT_EQ(other->GetPolyForm(), nullptr);
    EXPECT_TRUE(face->SetPolyForm(nullptr));
    EXPECT_EQ(Live::polyForms, 0);
}

// Type information crosses the library boundary.
TEST(ShapeHierarchyTest, TypesWorkAcrossTheLibraryBoundary) {
    SmartPtr<Shape> shape = Build({{{1}}});
    const RefCounted* asRefCounted = shape.get();
    EXPECT_NE(dynamic_cast<const Shape*>(asRefCounted), nullptr);
    EXPECT_EQ(dynamic_cast<const Face*>(asRefCounted), nullptr);
    const RefCounted* face = shape->GetBody(0)->GetRegion(0)->GetShell(0)->GetFace(0);
    EXPECT_EQ(typeid(*face), typeid(Face));
    EXPECT_EQ(DynamicPointerCast<Shape>(SmartPtr<RefCounted>(shape)).get(), shape.get());
}

// ---- the pool the shape parts come from ----

void ExpectNothingLiveSince(const MemoryPool::Counters& before) {
    const MemoryPool::Counters now = MemoryPool::GetCounters();
    EXPECT_EQ(now.liveBlocks, before.liveBlocks);
    EXPECT_EQ(now.liveBytes, before.liveBytes);
    EXPECT_EQ(now.failedRequests, before.failedRequests);
}

// Sizes on both sides of the size classes and of the 512-byte limit of the free lists; blocks
// live at the same time never overlap, and any hint is accepted.
TEST(GeometryPoolTest, BlocksAreAlignedDistinctAndCounted) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    std::vector<std::pair<char*, std::size_t>> blocks;
    int hint = 0;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{15}, std::size_t{16},
          std::size_t{17}, std::size_t{100}, std::size_t{511}, std::size_t{512}, std::size_t{513},
          std::size_t{4096}, std::size_t{1} << 20}) {
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
    ExpectNothingLiveSince(before);
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
    ExpectNothingLiveSince(before);
}

}  // namespace
