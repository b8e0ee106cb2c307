#include "geometry/Shape.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
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
    int bodies = 0, regions = 0, shells = 0, faces = 0;
    for (std::size_t b = 0; b < shape.GetBodyCount(); ++b) {
        const Body* body = shape.GetBody(b);
        names[body] = "B" + std::to_string(bodies++);
        for (std::size_t r = 0; r < body->GetRegionCount(); ++r) {
            const Region* region = body->GetRegion(r);
            names[region] = "R" + std::to_string(regions++);
            for (std::size_t s = 0; s < region->GetShellCount(); ++s) {
                const Shell* shell = region->GetShell(s);
                names[shell] = "S" + std::to_string(shells++);
                for (std::size_t f = 0; f < shell->GetFaceCount(); ++f)
                    names[shell->GetFace(f)] = "F" + std::to_string(faces++);
            }
        }
    }
    return names;
}

// The walk order Accept promises, written out from the layout.
std::vector<std::string> ExpectedWalk(const Layout& layout) {
    std::vector<std::string> events;
    int bodies = 0, regions = 0, shells = 0, faces = 0;
    for (const auto& bodyRegions : layout) {
        std::string body = "B" + std::to_string(bodies++);
        events.push_back(body);
        for (const auto& regionShells : bodyRegions) {
            std::string region = "R" + std::to_string(regions++);
            events.push_back(region);
            for (int faceCount : regionShells) {
                std::string shell = "S" + std::to_string(shells++);
                events.push_back(shell);
                for (int f = 0; f < faceCount; ++f)
                    events.push_back("F" + std::to_string(faces++));
                events.push_back("/" + shell);
            }
            events.push_back("/" + region);
        }
        events.push_back("/" + body);
    }
    return events;
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

struct WalkCase {
    const char* label;
    Layout layout;
};

class ShapeWalkOrderTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(ShapeWalkOrderTest, VisitsDepthFirstInListOrderWithLeaves) {
    const WalkCase& c = GetParam();
    SmartPtr<Shape> shape = Build(c.layout);
    Recorder recorder(NameObjects(*shape));
    EXPECT_EQ(shape->Accept(recorder), State::Continue);
    EXPECT_EQ(recorder.events, ExpectedWalk(c.layout));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ShapeWalkOrderTest,
    ::testing::Values(WalkCase{"Empty", {}}, WalkCase{"BodyWithoutRegion", {{}}},
                      WalkCase{"RegionWithoutShell", {{{}}}}, WalkCase{"ShellWithoutFace", {{{0}}}},
                      WalkCase{"OneFace", {{{1}}}}, WalkCase{"SeveralFacesInOneShell", {{{4}}}},
                      WalkCase{"SeveralShells", {{{2, 0, 3}}}},
                      WalkCase{"SeveralRegions", {{{1}, {2, 1}, {}}}},
                      WalkCase{"SeveralBodies", {{{2}, {1}}, {}, {{0, 1}}, {{3}}}}),
    [](const auto& info) { return std::string(info.param.label); });

// Body0{Region0{Shell0{F0,F1}, Shell1{F2}}}, Body1{Region1{Shell2{F3}}}.
const Layout kStopLayout = {{{2, 1}}, {{1}}};

struct StopCase {
    const char* label;
    const char* trigger;
    State answer;
    State result;
    std::vector<std::string> events;
};

class ShapeWalkStopTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(ShapeWalkStopTest, AnswersSteerTheWalk) {
    const StopCase& c = GetParam();
    SmartPtr<Shape> shape = Build(kStopLayout);
    Recorder recorder(NameObjects(*shape), c.trigger, c.answer);
    EXPECT_EQ(shape->Accept(recorder), c.result);
    EXPECT_EQ(recorder.events, c.events);
}

const std::vector<std::string> kFullWalk = {"B0", "R0", "S0",  "F0",  "F1",  "/S0",
                                            "S1", "F2", "/S1", "/R0", "/B0", "B1",
                                            "R1", "S2", "F3",  "/S2", "/R1", "/B1"};

INSTANTIATE_TEST_SUITE_P(
    Answers, ShapeWalkStopTest,
    ::testing::Values(
        StopCase{"ContinueEverywhere", "", State::Continue, State::Continue, kFullWalk},
        StopCase{"SkipBody",
                 "B0",
                 State::SkipChildren,
                 State::Continue,
                 {"B0", "/B0", "B1", "R1", "S2", "F3", "/S2", "/R1", "/B1"}},
        StopCase{"SkipRegion",
                 "R1",
                 State::SkipChildren,
                 State::Continue,
                 {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1",
                  "/R1", "/B1"}},
        StopCase{"SkipShell",
                 "S0",
                 State::SkipChildren,
                 State::Continue,
                 {"B0", "R0", "S0", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1", "S2", "F3",
                  "/S2", "/R1", "/B1"}},
        StopCase{"SkipAtFaceGoesOn", "F0", State::SkipChildren, State::Continue, kFullWalk},
        StopCase{"SkipAtLeaveGoesOn", "/S1", State::SkipChildren, State::Continue, kFullWalk},
        StopCase{"StopAtFace", "F1", State::Stop, State::Stop, {"B0", "R0", "S0", "F0", "F1"}},
        StopCase{"StopAtBody", "B0", State::Stop, State::Stop, {"B0"}},
        StopCase{"StopAtLeaveShell",
                 "/S0",
                 State::Stop,
                 State::Stop,
                 {"B0", "R0", "S0", "F0", "F1", "/S0"}},
        StopCase{"StopAtLeaveBody",
                 "/B0",
                 State::Stop,
                 State::Stop,
                 {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0"}},
        StopCase{
            "UnnamedValueStopsAndComesBack",
            "R1",
            static_cast<State>(7),
            static_cast<State>(7),
            {"B0", "R0", "S0", "F0", "F1", "/S0", "S1", "F2", "/S1", "/R0", "/B0", "B1", "R1"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ShapeWalkTest, BaseVisitorAnswersContinueEverywhere) {
    orbg::ShapeVisitor visitor;
    EXPECT_EQ(visitor.Visit(static_cast<const DatumPoint*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumAxis*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumPlane*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const DatumCSys*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Markup*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Edge*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Face*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Shell*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Region*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Visit(static_cast<const Body*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Leave(static_cast<const Shell*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Leave(static_cast<const Region*>(nullptr)), State::Continue);
    EXPECT_EQ(visitor.Leave(static_cast<const Body*>(nullptr)), State::Continue);
    EXPECT_EQ(static_cast<int>(orbg::ShapeVisitor::State{}), 0);

    SmartPtr<Shape> shape = Build({{{3}}, {{1, 1}}});
    EXPECT_EQ(shape->Accept(visitor), State::Continue);
}

TEST(ShapeWalkTest, WideShellIsWalkedWithoutRecursion) {
    SmartPtr<Shape> shape = Build({{{100000}}});
    struct Count : orbg::ShapeVisitor {
        using orbg::ShapeVisitor::Visit;
        State Visit(const Face*) override {
            ++faces;
            return State::Continue;
        }
        std::size_t faces = 0;
    } count;
    shape->Accept(count);
    EXPECT_EQ(count.faces, 100000u);
}

// Counts live objects of each kind through derived classes, to check what a parent frees.
struct Live {
    static inline int bodies = 0, regions = 0, shells = 0, faces = 0, polyForms = 0, meshes = 0;
};
struct CountedBody : Body {
    CountedBody() { ++Live::bodies; }
    ~CountedBody() override { --Live::bodies; }
};
struct CountedRegion : Region {
    CountedRegion() { ++Live::regions; }
    ~CountedRegion() override { --Live::regions; }
};
struct CountedShell : Shell {
    CountedShell() { ++Live::shells; }
    ~CountedShell() override { --Live::shells; }
};
struct CountedFace : Face {
    CountedFace() { ++Live::faces; }
    ~CountedFace() override { --Live::faces; }
};
struct CountedPolyForm : PolyForm {
    CountedPolyForm() { ++Live::polyForms; }
    ~CountedPolyForm() override { --Live::polyForms; }
};
struct CountedMesh : Mesh {
    CountedMesh() { ++Live::meshes; }
    ~CountedMesh() override { --Live::meshes; }
};

void ExpectNothingLive() {
    EXPECT_EQ(Live::bodies, 0);
    EXPECT_EQ(Live::regions, 0);
    EXPECT_EQ(Live::shells, 0);
    EXPECT_EQ(Live::faces, 0);
    EXPECT_EQ(Live::polyForms, 0);
    EXPECT_EQ(Live::meshes, 0);
}

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
        EXPECT_EQ(Live::bodies, 2);
        EXPECT_EQ(Live::regions, 4);
        EXPECT_EQ(Live::shells, 8);
        EXPECT_EQ(Live::faces, 16);
        EXPECT_EQ(Live::polyForms, 16);
        EXPECT_EQ(Live::meshes, 32);
        EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + 12);
    }
    ExpectNothingLive();
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks);
    EXPECT_EQ(MemoryPool::GetCounters().liveBytes, before.liveBytes);
}

TEST(ShapeHierarchyTest, ReadAccessorsGiveChildrenInOrderAndNullOutOfRange) {
    SmartPtr<Shape> shape(new Shape);
    auto* first = new Body;
    auto* second = new Body;
    ASSERT_TRUE(shape->AddBody(first));
    ASSERT_TRUE(shape->AddBody(second));
    EXPECT_EQ(shape->GetBodyCount(), 2u);
    EXPECT_EQ(shape->GetBody(0), first);
    EXPECT_EQ(shape->GetBody(1), second);
    EXPECT_EQ(shape->GetBody(2), nullptr);
    EXPECT_EQ(first->GetParent(), shape.get());

    auto* region = new Region;
    ASSERT_TRUE(first->AddRegion(region));
    EXPECT_EQ(first->GetRegionCount(), 1u);
    EXPECT_EQ(first->GetRegion(0), region);
    EXPECT_EQ(first->GetRegion(1), nullptr);
    EXPECT_EQ(region->GetParent(), first);

    auto* shell = new Shell;
    ASSERT_TRUE(region->AddShell(shell));
    EXPECT_EQ(region->GetShellCount(), 1u);
    EXPECT_EQ(region->GetShell(0), shell);
    EXPECT_EQ(region->GetShell(7), nullptr);
    EXPECT_EQ(shell->GetParent(), region);

    SmartPtr<Face> face(new Face);
    ASSERT_TRUE(shell->AddFace(face.get()));
    EXPECT_EQ(shell->GetFaceCount(), 1u);
    EXPECT_EQ(shell->GetFace(0), face.get());
    EXPECT_EQ(shell->GetFace(1), nullptr);
    EXPECT_EQ(face->GetReferenceCount(), 2);
}

TEST(ShapeHierarchyTest, AddRefusesNullAndChildrenThatAlreadyHaveAParent) {
    SmartPtr<Shape> shape(new Shape);
    SmartPtr<Shape> other(new Shape);
    auto* body = new Body;
    EXPECT_FALSE(shape->AddBody(nullptr));
    ASSERT_TRUE(shape->AddBody(body));
    EXPECT_FALSE(shape->AddBody(body));
    EXPECT_FALSE(other->AddBody(body));
    EXPECT_EQ(shape->GetBodyCount(), 1u);
    EXPECT_EQ(other->GetBodyCount(), 0u);

    auto* region = new Region;
    EXPECT_FALSE(body->AddRegion(nullptr));
    ASSERT_TRUE(body->AddRegion(region));
    EXPECT_FALSE(body->AddRegion(region));
    EXPECT_EQ(body->GetRegionCount(), 1u);

    auto* shell = new Shell;
    EXPECT_FALSE(region->AddShell(nullptr));
    ASSERT_TRUE(region->AddShell(shell));
    Region spare;
    EXPECT_FALSE(spare.AddShell(shell));
    EXPECT_EQ(region->GetShellCount(), 1u);

    EXPECT_FALSE(shell->AddFace(nullptr));
    EXPECT_EQ(shell->GetFaceCount(), 0u);
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
        EXPECT_EQ(Live::faces, 1);
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

TEST(ShapeHierarchyTest, ShellsAndRegionsLiveInThePool) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    auto* shell = new Shell;
    auto* region = new (MemoryPool::Allocate(sizeof(Region), nullptr)) Region();
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks + 2);
    EXPECT_EQ(MemoryPool::GetCounters().liveBytes,
              before.liveBytes + sizeof(Shell) + sizeof(Region));
    region->AddShell(shell);
    delete region;
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks);
    EXPECT_EQ(MemoryPool::GetCounters().liveBytes, before.liveBytes);
}

TEST(ShapeHierarchyTest, PlacementInFailedPoolMemoryGivesNull) {
    MemoryPool::FailNextRequests(2);
    Shell* shell = new (MemoryPool::Allocate(sizeof(Shell), nullptr)) Shell();
    Region* region = new (MemoryPool::Allocate(sizeof(Region), nullptr)) Region();
    EXPECT_EQ(shell, nullptr);
    EXPECT_EQ(region, nullptr);
    MemoryPool::FailNextRequests(1);
    EXPECT_THROW(new Shell, std::bad_alloc);
    MemoryPool::FailNextRequests(0);
}

TEST(ShapeHierarchyTest, FaceOwnsItsPolyForm) {
    Live::polyForms = 0;
    SmartPtr<Face> face(new Face);
    EXPECT_EQ(face->GetPolyForm(), nullptr);
    auto* first = new CountedPolyForm;
    ASSERT_TRUE(face->SetPolyForm(first));
    EXPECT_EQ(face->GetPolyForm(), first);
    EXPECT_EQ(static_cast<const Face&>(*face).GetPolyForm(), first);
    EXPECT_TRUE(face->SetPolyForm(first));  // the same one again changes nothing
    EXPECT_EQ(Live::polyForms, 1);

    SmartPtr<Face> other(new Face);
    EXPECT_FALSE(other->SetPolyForm(first));
    EXPECT_EQ(other->GetPolyForm(), nullptr);

    auto* second = new CountedPolyForm;
    ASSERT_TRUE(face->SetPolyForm(second));
    EXPECT_EQ(Live::polyForms, 1);  // the first one was deleted
    EXPECT_TRUE(other->SetPolyForm(new CountedPolyForm));
    delete other->GetPolyForm();  // deleting an attached PolyForm detaches it
    EXPECT_EQ(other->GetPolyForm(), nullptr);
    EXPECT_TRUE(face->SetPolyForm(nullptr));
    EXPECT_EQ(Live::polyForms, 0);
}

TEST(ShapeHierarchyTest, TypesWorkAcrossTheLibraryBoundary) {
    SmartPtr<Shape> shape = Build({{{1}}});
    const RefCounted* asRefCounted = shape.get();
    EXPECT_NE(dynamic_cast<const Shape*>(asRefCounted), nullptr);
    EXPECT_EQ(dynamic_cast<const Face*>(asRefCounted), nullptr);
    const RefCounted* face = shape->GetBody(0)->GetRegion(0)->GetShell(0)->GetFace(0);
    EXPECT_NE(dynamic_cast<const Face*>(face), nullptr);
    EXPECT_EQ(typeid(*face), typeid(Face));

    Body* body = new CountedBody;
    EXPECT_NE(dynamic_cast<CountedBody*>(body), nullptr);
    delete body;
    EXPECT_EQ(DynamicPointerCast<Shape>(SmartPtr<RefCounted>(shape)).get(), shape.get());
}

TEST(ShapeHierarchyTest, ObjectsAreDeletableOnTheirOwn) {
    const MemoryPool::Counters before = MemoryPool::GetCounters();
    delete new Body;
    delete new Region;
    delete new Shell;
    delete new PolyForm;
    delete new Mesh;
    delete VertexPool::Construct(3, 10);
    SmartPtr<Face> face(new Face);
    SmartPtr<Shape> shape(new Shape);
    EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before.liveBlocks);
}

}  // namespace
