// Shapes through the writer, XML text and the reader, and every malformed shape element.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "Documents.h"
#include "geometry/MemoryPool.h"
#include "geometry/Mesh.h"
#include "geometry/MeshBuilder.h"
#include "geometry/PolyForm.h"
#include "geometry/Shape.h"
#include "geometry/VertexPool.h"
#include "utilities/Base64.h"

namespace {

std::string WriteShapes(const std::function<void(serializedContent::XmlWriter&)>& visit) {
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:figure"), false);
    XmlElem* element = NewXmlElem(Symbol("kestrel_sc:e"), false);
    root->AddChild(element);
    serializedContent::XmlWriter writer(element);
    visit(writer);
    std::string text = WriteXml(*root);
    FreeXml(root);
    return text;
}

// The shapes stored on element "e" of a document.
std::vector<MeshData> ReadShapes(const std::string& text, std::size_t* otherProperties = nullptr) {
    documents::Tree top = documents::Read(text);
    std::vector<MeshData> meshes;
    std::size_t others = 0;
    for (const auto& property : top->GetChild(0)->GetProperties()) {
        if (auto* shape = std::get_if<SmartPtr<Shape>>(&property.value)) {
            meshes.push_back(ExtractMesh(**shape));
        } else {
            ++others;
        }
    }
    if (otherProperties)
        *otherProperties = others;
    return meshes;
}

MeshData Tetrahedron() {
    return {{0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3}};
}

// The written layout: Base64 payloads of positions (whatever the vertex type) and indices; a
// shape list gives an empty array element and then one property per shape with a pool, which
// read back as separate shapes. A shape read back has vertex type 1 and generated normals.
TEST(ShapePropertyTest, WrittenElementsHaveTheDocumentedLayout) {
    MeshData mesh = Tetrahedron();
    SmartPtr<Shape> shape = MakeMeshShape(mesh.positions, mesh.indices, VertexType(2));
    const std::string text = WriteShapes([&](auto& w) {
        w.Visit("s", shape);
        w.Visit("null", SmartPtr<Shape>());
        w.Visit("hollow", SmartPtr<Shape>(new Shape));
        w.Visit("list", std::vector<SmartPtr<Shape>>{shape, SmartPtr<Shape>(), shape});
        w.Visit("none", std::vector<SmartPtr<Shape>>{});
    });
    const std::string vertices = Base64::Encode(mesh.positions.data(), 48);
    const std::string triangles = Base64::Encode(mesh.indices.data(), 48);
    const std::string property = "<kestrel_sc:property type=\"shape\" name=";
    const std::string payload = ">\n      <vertices count=\"4\" vertices=\"base64\">" + vertices +
                                "</vertices>\n      <triangles count=\"4\" triangles=\"base64\">" +
                                triangles + "</triangles>";
    EXPECT_NE(text.find(property + "\"s\"" + payload), std::string::npos) << text;
    EXPECT_EQ(text.find("\"null\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\"hollow\""), std::string::npos) << text;
    EXPECT_NE(text.find("<kestrel_sc:property_array type=\"shape\" name=\"list\" count=\"3\">\n"
                        "      <kestrel_sc:property/>\n      <kestrel_sc:property/>\n"
                        "      <kestrel_sc:property/>\n    </kestrel_sc:property_array>\n    " +
                        property + "\"list\"" + payload),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<kestrel_sc:property_array type=\"shape\" name=\"none\" count=\"0\"/>"),
              std::string::npos);
    EXPECT_EQ(ReadShapes(text).size(), 3u);
    documents::Tree top = documents::Read(text);
    const auto& read = std::get<SmartPtr<Shape>>(top->GetChild(0)->GetProperties()[0].value);
    const VertexPool* pool =
        read->GetBody(0)->GetRegion(0)->GetShell(0)->GetFace(0)->GetPolyForm()->GetVertexPool();
    EXPECT_EQ(pool->GetVertexType(), VertexType(1));
    const float* normal = pool->GetNormal(3);
    EXPECT_GT(std::abs(normal[0]) + std::abs(normal[1]) + std::abs(normal[2]), 0.5f);
}

TEST(ShapePropertyTest, WriterTakesTheLastFacesPolyFormAndItsFirstMesh) {
    SmartPtr<Shape> shape(new Shape);
    auto* body = new Body;
    auto* region = new Region;
    auto* shell = new Shell;
    auto addFace = [&](std::vector<float> positions, std::vector<std::vector<std::uint32_t>> meshes,
                       bool withPolyForm) {
        SmartPtr<Face> face(new Face);
        if (withPolyForm) {
            auto* polyForm = new PolyForm;
            VertexPool* pool = VertexPool::Construct(VertexType(0), positions.size() / 3);
            std::memcpy(pool->Vertices(), positions.data(), positions.size() * 4);
            polyForm->SetVertexPool(pool);
            for (auto& indices : meshes) {
                auto* mesh = new Mesh;
                mesh->AddTriangles(indices.data(), static_cast<std::uint32_t>(indices.size()));
                mesh->Flush();
                polyForm->AddMesh(mesh);
            }
            face->SetPolyForm(polyForm);
        }
        shell->AddFace(face.get());
    };
    addFace({9, 9, 9}, {{0, 0, 0}}, true);
    addFace({1, 2, 3, 4, 5, 6}, {{1, 0, 1}, {0, 0, 0}}, true);
    addFace({}, {}, false);  // the last face has no PolyForm: the one before counts
    region->AddShell(shell);
    body->AddRegion(region);
    shape->AddBody(body);
    std::vector<MeshData> back = ReadShapes(WriteShapes([&](auto& w) { w.Visit("s", shape); }));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].positions, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(back[0].indices, (std::vector<std::uint32_t>{1, 0, 1}));
}

struct MalformedCase {
    const char* name;
    std::string body;      // the children of the shape element
    std::size_t shapes;    // shapes expected
    std::size_t vertices;  // of the shape, when one is expected
    std::size_t triangles;
};

class MalformedShapeTest : public testing::TestWithParam<MalformedCase> {};

std::string Payload(const char* element, const char* count, const std::string& text) {
    std::string out = std::string("<") + element;
    if (count)
        out += std::string(" count='") + count + "'";
    return out + ">" + text + "</" + element + ">";
}

std::string V(const char* count, const std::string& text) {
    return Payload("vertices", count, text);
}
std::string T(const char* count, const std::string& text) {
    return Payload("triangles", count, text);
}

const std::string kOneVertex = Base64::Encode("\0\0\x80?\0\0\0@\0\0@@", 12);  // (1, 2, 3)
const std::string kTwoTriangles = Base64::Encode(std::string(24, '\0').data(), 24);

TEST_P(MalformedShapeTest, NeverStopsTheRestOfTheDocument) {
    const std::string text = "<r><kestrel_sc:e><kestrel_sc:property type='shape' name='s'>" +
                             GetParam().body +
                             "</kestrel_sc:property><kestrel_sc:property type='int32' "
                             "name='after'>1</kestrel_sc:property></kestrel_sc:e></r>";
    std::size_t others = 0;
    std::vector<MeshData> shapes = ReadShapes(text, &others);
    EXPECT_EQ(others, 1u);  // the property after it is read
    ASSERT_EQ(shapes.size(), GetParam().shapes);
    if (!shapes.empty()) {
        EXPECT_EQ(shapes[0].positions.size() / 3, GetParam().vertices);
        EXPECT_EQ(shapes[0].indices.size() / 3, GetParam().triangles);
    }
}

// clang-format off
const MalformedCase kMalformedCases[] = {
    {"WellFormed", V("1", kOneVertex) + T("2", kTwoTriangles), 1, 1, 2},
    {"ChildrenSwapped", T("2", kTwoTriangles) + V("1", kOneVertex), 0, 0, 0},
    {"ThirdChild", V("1", kOneVertex) + T("2", kTwoTriangles) + "<extra/>", 0, 0, 0},
    {"CountsMissingTakeNothing", V(nullptr, kOneVertex) + T(nullptr, kTwoTriangles), 1, 0, 0},
    {"CountSmallerTakesTheFirstRecords", V("1", kOneVertex) + T("1", kTwoTriangles), 1, 1, 1},
    {"CountLargerThanPayloadTakesWhatIsThere", V("4294967295", kOneVertex) + T("1000000", kTwoTriangles), 1, 1, 2},
    {"NegativeCountIsHuge", V("-1", kOneVertex) + T("-5", kTwoTriangles), 1, 1, 2},
    {"CorruptBase64KeepsWholeGroupsBeforeTheDamage", V("1", "AAAAAAAAAAAA*AAAAAAAAAAA") + T("2", "%%%%"), 1, 0, 0},
    {"PartialRecordIgnored", V("2", Base64::Encode(std::string(20, 'x').data(), 20)) + T("0", ""), 1, 1, 0},
    {"IndicesBeyondTheVerticesPassUnchecked",
     V("1", kOneVertex) + T("1", Base64::Encode("\xff\xff\xff\xff\x07\0\0\0\0\0\0\0", 12)), 1, 1, 1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, MalformedShapeTest, testing::ValuesIn(kMalformedCases),
                         [](const testing::TestParamInfo<MalformedCase>& info) {
                             return info.param.name;
                         });

TEST(ShapePropertyTest, ExhaustedGeometryPoolAddsNothingAndLeaksNothing) {
    const std::string text = "<r><kestrel_sc:e><kestrel_sc:property type='shape' name='s'>" +
                             Payload("vertices", "1", kOneVertex) +
                             Payload("triangles", "2", kTwoTriangles) +
                             "</kestrel_sc:property></kestrel_sc:e></r>";
    for (std::size_t failures : {1u, 2u}) {
        const std::size_t before = MemoryPool::GetCounters().liveBlocks;
        MemoryPool::FailNextRequests(failures);
        EXPECT_TRUE(ReadShapes(text).empty());
        MemoryPool::FailNextRequests(0);
        EXPECT_EQ(MemoryPool::GetCounters().liveBlocks, before);
    }
}

}  // namespace
