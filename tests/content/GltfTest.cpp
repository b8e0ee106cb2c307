// glTF scenes: meshes exported and imported back bit for bit in every container, the location
// mapping, and imports of hand-made files that are wrong or only partly usable. The Khronos
// validator, f3d and Chromium check the exports themselves (tests/gltf/check-viewers).
#include "kestrel/gltf/Gltf.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "geometry/MeshBuilder.h"
#include "serializedContent/TestFiles.h"

namespace {

using namespace kestrel::gltf;
using kestrel::Error;

std::vector<std::uint32_t> Bits(const std::vector<float>& values) {
    std::vector<std::uint32_t> bits;
    for (float value : values)
        bits.push_back(std::bit_cast<std::uint32_t>(value));
    return bits;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct MeshRow {
    const char* name;
    MeshData mesh;
};

const MeshRow kMeshes[] = {
    {"triangle", {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}}},
    {"negative zero and tiny", {{-0.f, 1e-38f, 3.4e38f, 1, -1, 0.5f, 0, 0, 1}, {2, 1, 0}}},
    {"degenerate", {{0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0, 1}, {0, 1, 2, 0, 0, 3, 0, 1, 3}}},
    {"non-finite",
     {{0, 0, 0, kNaN, 1, 0, 1, kInf, 0, 1, 1, 1, 0, 1, -kInf}, {0, 1, 2, 0, 3, 4, 1, 3, 4}}},
    {"NaN payload", {{std::bit_cast<float>(0x7fa00001u), 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}}},
    {"all triangles dropped", {{kNaN, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}}},
    {"vertices only", {{0, 0, 0, 1, 2, 3}, {}}},
    {"empty", {{}, {}}},
};

struct Container {
    const char* file;
    BufferPlacement placement;
};
const Container kContainers[] = {{"scene.glb", BufferPlacement::Embedded},
                                 {"scene.gltf", BufferPlacement::Embedded},
                                 {"beside.gltf", BufferPlacement::Beside}};

TEST(GltfTest, MeshesComeBackBitForBitFromEveryContainer) {
    for (const Container& container : kContainers) {
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        SerializedContentElement* parts = top->StartContent("parts");
        std::vector<SmartPtr<Shape>> list;
        for (const MeshRow& row : kMeshes) {
            SmartPtr<Shape> shape = MakeMeshShape(row.mesh.positions, row.mesh.indices);
            parts->AddProperty(row.name, shape);
            list.push_back(shape);
        }
        list.push_back(nullptr);
        parts->AddPropertyValue("list", list);
        parts->EndContent();

        testfiles::TempDir directory;
        const std::string path = (directory.path() / container.file).string();
        ASSERT_FALSE(WriteGltf(*top, path, {}, container.placement)) << container.file;
        SmartPtr<SerializedContentElement> back(SerializedContentElement::CreateTopElement("x"));
        const ImportResult imported = ImportGltf(path, *back, {});
        ASSERT_TRUE(imported) << imported.error.description();
        EXPECT_TRUE(imported.leftOut.empty());
        const SerializedContentElement* copy = back->GetChild(0)->GetChild(0);
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(copy->GetProperties().size(), std::size(kMeshes) + 1) << container.file;
        for (std::size_t i = 0; i < std::size(kMeshes); ++i) {
            const auto& property = copy->GetProperties()[i];
            EXPECT_EQ(property.name.view(), kMeshes[i].name);
            const MeshData mesh = ExtractMesh(*std::get<SmartPtr<Shape>>(property.value));
            EXPECT_EQ(Bits(mesh.positions), Bits(kMeshes[i].mesh.positions))
                << container.file << " " << kMeshes[i].name;
            EXPECT_EQ(mesh.indices, kMeshes[i].mesh.indices)
                << container.file << " " << kMeshes[i].name;
        }
        const auto& entries =
            std::get<std::vector<SmartPtr<Shape>>>(copy->GetProperties().back().value);
        ASSERT_EQ(entries.size(), std::size(kMeshes) + 1);
        EXPECT_EQ(Bits(ExtractMesh(*entries[3]).positions), Bits(kMeshes[3].mesh.positions));
        EXPECT_FALSE(entries.back());
    }
}

// From memory a file's buffer beside it is read only below the directory given.
TEST(GltfTest, BytesReadExternalBuffersOnlyBelowTheDirectoryGiven) {
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("figure"));
    top->StartContent("part")->AddProperty(
        "mesh", MakeMeshShape(kMeshes[0].mesh.positions, kMeshes[0].mesh.indices));
    testfiles::TempDir directory;
    const auto path = directory.path() / "beside.gltf";
    ASSERT_FALSE(WriteGltf(*top, path.string(), {}, BufferPlacement::Beside));
    const std::string bytes = testfiles::ReadFile(path);
    for (const std::string& base : {std::string(), directory.path().string()}) {
        SmartPtr<SerializedContentElement> back(SerializedContentElement::CreateTopElement("x"));
        const ImportResult imported = ImportGltfBytes(bytes, base, *back, {});
        EXPECT_EQ(imported.shapes, base.empty() ? 0u : 1u) << base;
        EXPECT_EQ(imported.error.message.find("external files are not read") != std::string::npos,
                  base.empty())
            << imported.error.description();
    }
}

struct LocationRow {
    Location location;
    nlohmann::json translation, rotation, scale;  // null: left out of the node
    bool keptInExtras;
};

TEST(GltfTest, LocationsBecomeNodeTransformsAndComeBack) {
    const LocationRow rows[] = {
        {{}, nullptr, nullptr, nullptr, false},
        {{{1, -2, 3.25}, {0, 0, 0, 1}, 1}, {1, -2, 3.25}, nullptr, nullptr, false},
        {{{0, 0, 0}, {0, 0.6, 0, 0.8}, 2.5}, nullptr, {0, 0.6, 0, 0.8}, {2.5, 2.5, 2.5}, false},
        {{{0, 0, 0}, {0, 0, 2, 0}, 1}, nullptr, {0, 0, 1, 0}, nullptr, true},
        {{{kNaN, 0, 0}, {0, 0, 0, 1}, 1}, nullptr, nullptr, nullptr, true},
    };
    for (const LocationRow& row : rows) {
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        top->AddProperty("placement", row.location);
        const GltfScene scene = BuildScene(*top, {"placement"});
        ASSERT_TRUE(scene);
        const nlohmann::json node = nlohmann::json::parse(scene.json)["nodes"][0];
        EXPECT_EQ(node.value("translation", nlohmann::json()), row.translation);
        EXPECT_EQ(node.value("rotation", nlohmann::json()), row.rotation);
        EXPECT_EQ(node.value("scale", nlohmann::json()), row.scale);
        EXPECT_EQ(node["extras"].contains("properties"), row.keptInExtras);

        testfiles::TempDir directory;
        const std::string path = (directory.path() / "l.glb").string();
        ASSERT_FALSE(WriteGltf(*top, path, {"placement"}));
        SmartPtr<SerializedContentElement> back(SerializedContentElement::CreateTopElement("x"));
        ASSERT_TRUE(ImportGltf(path, *back, {"placement"}));
        const auto* property = back->GetChild(0)->FindProperty("placement");
        const bool identity = row.location == Location{};
        ASSERT_EQ(property != nullptr, !identity);
        if (property) {
            EXPECT_EQ(Bits({float(std::get<Location>(property->value).scale)}),
                      Bits({float(row.location.scale)}));
        }
    }
}

// A one-buffer glTF whose buffer (Base64) holds the given bytes, and the rest of its JSON.
std::string HandMade(const std::string& base64, const std::string& rest) {
    return R"({"asset": {"version": "2.0"}, "buffers": [{"byteLength": )" +
           std::to_string(base64.size() / 4 * 3 - (base64.size() && base64.back() == '=' ? 1 : 0)) +
           R"(, "uri": "data:application/octet-stream;base64,)" + base64 + "\"}], " + rest + "}";
}

// Three float positions (0 0 0, 1 0 0, 0 1 0) and the indices 0 1 2 as uint16 and one 5.
const std::string kPositions = "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAAABAAIABQA=";

struct ImportRow {
    const char* name;
    std::string content;
    Error::Code code;
    const char* message;  // part of the error's message, or of the first line left out
    std::size_t shapes;
};

TEST(GltfTest, ImportsHandMadeFiles) {
    const std::string views =
        R"("bufferViews": [{"buffer": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36, "byteLength": 8}],)";
    const std::string accessors =
        R"("accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3"},
                         {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"},
                         {"bufferView": 1, "byteOffset": 2, "componentType": 5123, "count": 3, "type": "SCALAR"},
                         {"bufferView": 1, "byteOffset": 4, "componentType": 5123, "count": 4, "type": "SCALAR"}],)";
    auto scene = [&](const std::string& primitives) {
        return HandMade(
            kPositions,
            views + accessors + R"("meshes": [{"name": "m", "primitives": [)" + primitives +
                R"(]}], "nodes": [{"name": "a b", "mesh": 0}], "scenes": [{"nodes": [0]}])");
    };
    const ImportRow rows[] = {
        {"indexed uint16", scene(R"({"attributes": {"POSITION": 0}, "indices": 1})"), Error::None,
         "", 1},
        {"not indexed", scene(R"({"attributes": {"POSITION": 0}})"), Error::None, "", 1},
        {"two primitives",
         scene(R"({"attributes": {"POSITION": 0}}, {"attributes": {"POSITION": 0}, "indices": 1})"),
         Error::None, "", 2},
        {"lines left out", scene(R"({"attributes": {"POSITION": 0}, "mode": 1})"), Error::None,
         "mode 1 is not triangles", 0},
        {"index beyond vertices", scene(R"({"attributes": {"POSITION": 0}, "indices": 2})"),
         Error::Malformed, "index 5 is beyond the 3 vertices", 0},
        {"accessor past its view", scene(R"({"attributes": {"POSITION": 0}, "indices": 3})"),
         Error::Malformed, "reaches past the end", 0},
        {"not JSON", "{\"asset\": ", Error::Malformed, "not a glTF 2.0 file", 0},
        {"a cycle",
         HandMade(kPositions,
                  R"("nodes": [{"children": [1]}, {"children": [0]}], "scenes": [{"nodes": [0]}])"),
         Error::Malformed, "reached twice", 0},
    };
    for (const ImportRow& row : rows) {
        testfiles::TempDir directory;
        const auto path = directory.Write("in.gltf", row.content);
        SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("x"));
        const ImportResult result = ImportGltf(path.string(), *top, {});
        EXPECT_EQ(result.error.code, row.code) << row.name << ": " << result.error.description();
        EXPECT_EQ(result.shapes, row.shapes) << row.name;
        const std::string said =
            result ? (result.leftOut.empty() ? "" : result.leftOut[0]) : result.error.message;
        EXPECT_NE(said.find(row.message), std::string::npos) << row.name << ": " << said;
        if (!result)
            EXPECT_EQ(top->GetChildCount(), 0u) << row.name;
        else
            EXPECT_EQ(top->GetChild(0)->GetName().view(), "a_b") << row.name;
    }
    SmartPtr<SerializedContentElement> top(SerializedContentElement::CreateTopElement("x"));
    EXPECT_EQ(ImportGltf("/nonexistent/in.glb", *top, {}).error.code, Error::NotFound);
}

}  // namespace
