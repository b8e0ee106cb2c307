// The tool's mesh files: OBJ and PLY written through a temporary file and read back, the readers
// fed hand-made files good and bad, and both checked against meshio and assimp when installed.
#include "kestrel/meshes/MeshFiles.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "serializedContent/TestFiles.h"

namespace {

using namespace kestrel::meshes;
using kestrel::Error;
using testfiles::Listing;
using testfiles::ReadFile;
namespace fs = std::filesystem;

// A cube around the origin, two triangles a side.
MeshData Cube() {
    MeshData mesh{{}, {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                       2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5}};
    for (int i = 0; i < 24; ++i)
        mesh.positions.push_back(static_cast<float>((i / 3) >> (i % 3) & 1) - 0.5f);
    return mesh;
}

// A height field of n x n cells, two triangles each, with coordinates that need all the digits
// a float has.
MeshData Grid(std::uint32_t n) {
    MeshData mesh;
    for (std::uint32_t j = 0; j <= n; ++j) {
        for (std::uint32_t i = 0; i <= n; ++i) {
            mesh.positions.insert(
                mesh.positions.end(),
                {static_cast<float>(i) * 0.37f - 41.3f, static_cast<float>(j) / 7.0f,
                 static_cast<float>(std::sin(i * 0.1) * std::cos(j * 0.07) * 1e-3)});
        }
    }
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
        }
    }
    return mesh;
}

std::vector<std::uint32_t> Bits(const std::vector<float>& values) {
    std::vector<std::uint32_t> bits;
    for (float value : values)
        bits.push_back(std::bit_cast<std::uint32_t>(value));
    return bits;
}

// Positions compared bit for bit, so NaN payloads and the sign of zero count.
void ExpectSameMesh(const MeshData& actual, const MeshData& expected) {
    EXPECT_EQ(Bits(actual.positions), Bits(expected.positions));
    EXPECT_EQ(actual.indices, expected.indices);
}

// Binary PLY bodies built value by value, in either byte order.
class PlyBody {
public:
    explicit PlyBody(bool bigEndian = false) : bigEndian_(bigEndian) {}

    template <class... T>
    PlyBody& Put(T... values) {
        (Append(values), ...);
        return *this;
    }
    const std::string& Bytes() const { return bytes_; }

private:
    template <class T>
    void Append(T value) {
        auto raw = std::bit_cast<std::array<char, sizeof(T)>>(value);
        if ((std::endian::native == std::endian::big) != bigEndian_)
            std::reverse(raw.begin(), raw.end());
        bytes_.append(raw.data(), raw.size());
    }

    bool bigEndian_;
    std::string bytes_;
};

TEST(FormatFromPathTest, ExtensionInAnyCase) {
    EXPECT_EQ(FormatFromPath("dir/mesh.OBJ"), MeshFormat::Obj);
    EXPECT_EQ(FormatFromPath("/tmp/x.Ply"), MeshFormat::Ply);
    for (const char* path : {"x.stl", "obj", "mesh.obj/inner", ""})
        EXPECT_EQ(FormatFromPath(path), std::nullopt) << path;
}

// ---- round trips and what is written ----

TEST(MeshRoundTripTest, EveryMeshInEveryFormatItCarries) {
    using Limits = std::numeric_limits<float>;
    MeshData exact;  // every finite float comes back exactly, in OBJ text too
    for (float value :
         {0.0f, -0.0f, 0.1f, 1.0f / 3.0f, Limits::max(), Limits::min(), -Limits::max(),
          Limits::denorm_min(), -Limits::denorm_min(), 16777217.0f, 1e-30f, 123456.789f})
        exact.positions.push_back(value);
    exact.indices = {0, 1, 2, 3, 2, 1};
    MeshData nonFinite;  // NaN payloads, infinities and -0 only PLY carries
    for (std::uint32_t bits : {0x7FA00001u, 0xFFC12345u, 0x7FC00000u, 0x7F800000u, 0xFF800000u,
                               0x80000000u, 0x00000001u, 0x3F800000u, 0xC2F6E979u})
        nonFinite.positions.push_back(std::bit_cast<float>(bits));
    nonFinite.indices = {0, 1, 2};
    const MeshData grid = Grid(224);  // over 100,000 triangles
    const struct {
        const char* name;
        MeshData mesh;
        std::vector<const char*> extensions;
    } rows[] = {
        {"cube", Cube(), {".obj", ".ply"}}, {"grid", grid, {".obj", ".ply"}},
        {"empty", {}, {".obj", ".ply"}},    {"exact", exact, {".obj"}},
        {"nan", nonFinite, {".ply"}},
    };
    testfiles::TempDir directory;
    for (const auto& row : rows) {
        for (const char* extension : row.extensions) {
            const std::string path = (directory.path() / row.name).string() + extension;
            SCOPED_TRACE(path);
            const Error written = WriteMeshFile(row.mesh, path, *FormatFromPath(path));
            ASSERT_FALSE(written) << written.description();
            const MeshReadResult read = ReadMeshFile(path);
            ASSERT_TRUE(read) << read.error.description();
            ExpectSameMesh(read.mesh, row.mesh);
        }
    }
}

TEST(MeshWriteTest, ObjTextAndPlyLayout) {
    testfiles::TempDir directory;
    MeshData mesh;
    mesh.positions = {0.1f, -2.0f, 1e10f, 0.0f, 1.5f, -0.0f, 3.0f, 0.25f, 1e-7f};
    mesh.indices = {0, 1, 2};
    const std::string obj = (directory.path() / "t.obj").string();
    ASSERT_FALSE(WriteMeshFile(mesh, obj, MeshFormat::Obj));
    EXPECT_EQ(ReadFile(obj),
              "# kestrel-sc mesh: 3 vertices, 1 triangles\nv 0.1 -2 1e+10\nv 0 1.5 -0\n"
              "v 3 0.25 1e-07\nf 1 2 3\n");
    // The body is checked by the round trips and by meshio and assimp.
    const std::string ply = (directory.path() / "t.ply").string();
    ASSERT_FALSE(WriteMeshFile(Cube(), ply, MeshFormat::Ply));
    EXPECT_EQ(
        ReadFile(ply).rfind(
            "ply\nformat binary_little_endian 1.0\ncomment kestrel-sc mesh\nelement vertex 8\n"
            "property float x\nproperty float y\nproperty float z\nelement face 12\n"
            "property list uchar uint vertex_indices\nend_header\n",
            0),
        0u);
}

// Refused meshes leave no file behind and keep the one that was there (failed writes are the
// atomic writer's, tested with it).
TEST(MeshWriteTest, RefusalsLeaveNoFile) {
    testfiles::TempDir directory;
    const std::string kept = directory.Write("kept.obj", "old content").string();
    MeshData nan = Cube(), outOfRange = Cube(), shortPositions = Cube(), shortIndices = Cube();
    nan.positions[7] = std::numeric_limits<float>::quiet_NaN();
    outOfRange.indices[5] = 8;
    shortPositions.positions.pop_back();
    shortIndices.indices.pop_back();
    const struct {
        MeshData mesh;
        const char* file;
        const char* message;
    } rows[] = {
        {nan, "kept.obj", "vertex 2 is not finite, which OBJ cannot carry (PLY can)"},
        {outOfRange, "kept.obj", "triangle 1 has vertex index 8 out of range (8 vertices)"},
        {outOfRange, "a.ply", "triangle 1 has vertex index 8 out of range (8 vertices)"},
        {shortPositions, "a.ply", "positions and indices must come in threes"},
        {shortIndices, "a.obj", "positions and indices must come in threes"},
    };
    for (const auto& row : rows) {
        const std::string path = (directory.path() / row.file).string();
        const Error error = WriteMeshFile(row.mesh, path, *FormatFromPath(path));
        EXPECT_EQ(error.code, Error::NotSavable);
        EXPECT_EQ(error.description(), path + ": " + row.message);
    }
    EXPECT_EQ(Listing(directory.path()), std::vector<std::string>{"kept.obj"});
    EXPECT_EQ(ReadFile(kept), "old content");
}

// ---- reading: files that must read and files that must not ----

struct MeshFile {
    MeshFile(const char* n, std::string c, std::string e, MeshData m = {})
        : name(n), content(std::move(c)), error(std::move(e)), mesh(std::move(m)) {}
    const char* name;
    std::string content;
    std::string error;  // a part of the message; empty for a file that reads as mesh
    MeshData mesh;
};
const std::vector<float> kSquare = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
const std::vector<float> kTriangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
const MeshData kSquareMesh = {kSquare, {0, 1, 2, 0, 2, 3}};
const MeshData kTriangleMesh = {kTriangle, {0, 1, 2}};
const std::string kXyz = "property float x\nproperty float y\nproperty float z\n";

std::string PlyHeader(const std::string& format, const std::string& elements) {
    return "ply\nformat " + format + " 1.0\n" + elements + "end_header\n";
}

std::vector<MeshFile> GoodFiles() {
    // Normals, colours and a list on each vertex, faces with flags and texture coordinates,
    // and elements of other kinds before, between and after.
    PlyBody extra;
    extra.Put(1.0f, 2.0f);  // two "camera" entries
    for (std::size_t v = 0; v < 4; ++v) {
        extra.Put(0.0f, 0.0f, 1.0f, kSquare[v * 3 + 2], kSquare[v * 3 + 1]);
        extra.Put(std::uint8_t{255}, std::uint8_t{128}, std::uint8_t{0}, kSquare[v * 3]);
        extra.Put(std::uint8_t{2}, 0.5, 0.25);
    }
    extra.Put(std::int32_t{7}, std::uint8_t{4}, 0u, 1u, 2u, 3u);
    extra.Put(std::uint8_t{8}, 0.f, 0.f, 1.f, 0.f, 1.f, 1.f, 0.f, 1.f);
    extra.Put(std::int32_t{8}, std::uint8_t{3}, 0u, 1u, 3u, std::uint8_t{0});
    extra.Put(std::int32_t{0}, std::int32_t{1});  // one edge
    PlyBody bigEndian(true);
    for (float value : kSquare)
        bigEndian.Put(value);
    bigEndian.Put(std::uint8_t{4}, 0u, 1u, 2u, 3u);
    const std::string ply = "binary_little_endian";
    // clang-format off
    return {
        {"ObjPentagonFan", "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 1 0\nf 1 2 3 4 5\n", "",
         {{0, 0, 0, 1, 0, 0, 2, 1, 0, 1, 2, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 3, 0, 3, 4}}},
        {"ObjNegativeIndices",
         "v 9 9 9\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf -3 -2 -1\nv 0 1 0\nf -4 -2 -1\n", "",
         {{9, 9, 9, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, {1, 2, 3, 1, 3, 4}}},
        {"ObjSlashForms", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvn 0 0 1\n"
         "f 1/1 2/2 3/1\nf 1//1 3//1 4//1\nf 1/2/1 2/1/1 4/2/1\nf 4/-1/-1 3// 2/1/\n", "",
         {kSquare, {0, 1, 2, 0, 2, 3, 0, 1, 3, 3, 2, 1}}},
        // A byte order mark, comments, statements that carry nothing for a mesh, values past z,
        // CR LF, tabs, signs and exponents, a face before its vertices and no final newline.
        {"ObjToleratedForms", "\xEF\xBB\xBF# by hand\nmtllib a.mtl\no A\ng b\ns off\nusemtl c\n"
         "\n \t\nf 1 2 3 # first\nv +0 0e0 0 1 # origin\r\nv\t1.0E0\t-0.0\t.0 1.0\r\n"
         "v 1 +1e+0 0 0.5 0.2\nv 0 1 0\nvp 0.5\nl 1 2\np 3\n#f 9 9 9\nf 1 3 4", "",
         {{0, 0, 0, 1, -0.0f, 0, 1, 1, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 3}}},
        {"ObjNoFaces", "v 1 2 3\n", "", {{1, 2, 3}, {}}},
        {"PlyAscii", PlyHeader("ascii", "comment by hand\nelement vertex 4\n" + kXyz +
         "element face 1\nproperty list uchar int vertex_indices\n"
         "element nothing 18446744073709551615\n") + "0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n", "",
         kSquareMesh},
        {"PlyAsciiCrLfDoubleAndVertexIndex",
         "ply\r\nformat ascii 1.0\r\nelement vertex 3\r\nproperty double x\r\n"
         "property double y\r\nproperty double z\r\nelement face 1\r\n"
         "property list uint8 uint16 vertex_index\r\nend_header\r\n"
         "0.0 0.0 0.0\r\n1.0 0.0 0.0\r\n0.0 1.0 0.0\r\n3 0 1 2\r\n", "", kTriangleMesh},
        {"PlyBigEndian", PlyHeader("binary_big_endian", "element vertex 4\n" + kXyz +
         "element face 1\nproperty list uchar uint vertex_indices\n") + bigEndian.Bytes(), "",
         kSquareMesh},
        {"PlyDoubleCoordinatesIntLists", PlyHeader(ply, "element vertex 3\nproperty float64 x\n"
         "property float64 y\nproperty float64 z\nelement face 1\n"
         "property list int int vertex_indices\n") +
         PlyBody().Put(0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.1, 1.0, -2.5, 3, 0, 1, 2).Bytes(), "",
         {{0, 0, 0, 1, 0, 0, static_cast<float>(0.1), 1, -2.5f}, {0, 1, 2}}},
        {"PlyIntegerCoordinatesAndFaceLookalikes", PlyHeader(ply, "element vertex 2\n"
         "property char x\nproperty short y\nproperty int z\nproperty uint id\n"
         "element nothing 0\nelement face 0\nproperty list uchar ushort vertex_indices\n"
         "element faces 1\nproperty list uchar ushort vertex_indices\n") +
         PlyBody().Put(std::int8_t{-3}, std::int16_t{4}, -5, 7u, std::int8_t{1}, std::int16_t{-2},
                       3, 8u, std::uint8_t{3}, std::uint16_t{2}, std::uint16_t{1},
                       std::uint16_t{0}).Bytes(), "",
         {{-3, 4, -5, 1, -2, 3}, {}}},
        {"PlyExtraPropertiesAndElements", PlyHeader(ply, "obj_info made by hand\n"
         "element camera 2\nproperty float view\nelement vertex 4\nproperty float nx\n"
         "property float ny\nproperty float nz\nproperty float z\nproperty float y\n"
         "property uchar red\nproperty uchar green\nproperty uchar blue\nproperty float x\n"
         "property list uchar double weights\nelement face 2\nproperty int flags\n"
         "property list uchar uint vertex_indices\nproperty list uchar float texcoord\n"
         "element edge 1\nproperty int vertex1\nproperty int vertex2\n") + extra.Bytes(), "",
         {kSquare, {0, 1, 2, 0, 2, 3, 0, 1, 3}}},
    };
    // clang-format on
}

std::vector<MeshFile> BadFiles() {
    const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const std::string asciiHeader =
        PlyHeader("ascii", "element vertex 3\n" + kXyz +
                               "element face 1\nproperty list uchar int vertex_indices\n");
    const std::string ascii = asciiHeader + "0 0 0\n1 0 0\n0 1 0\n";
    const auto binary = [](const std::string& vertices, const std::string& faces) {
        return PlyHeader("binary_little_endian", "element vertex " + vertices + "\n" + kXyz +
                                                     "element face " + faces +
                                                     "\nproperty list uchar uint vertex_indices\n");
    };
    PlyBody triangleBody;
    for (float value : kTriangle)
        triangleBody.Put(value);
    const std::string points = triangleBody.Bytes();
    const std::string body = triangleBody.Put(std::uint8_t{3}, 0u, 1u, 2u).Bytes();
    const std::string noZ = "element vertex 1\nproperty float x\nproperty float y\n";
    // clang-format off
    return {
        {"ObjBadNumber", "v 0 0 0\nv 1 0 0\nv 0 x 0\n", "line 3: bad number 'x'"},
        {"ObjShortVertex", "v 0 0\n", "line 1: a vertex needs x, y and z"},
        {"ObjIndexOutOfRange", triangle + "f 1 2 3\nf 1 2 4\nf 1 2 3\n",
         "line 5: vertex index 4 out of range (3 vertices)"},
        {"ObjRelativeIndexTooFar", triangle + "f -1 -2 -4\n",
         "line 4: relative index -4 reaches before the first vertex"},
        {"ObjHugeRelativeIndex", triangle + "f 1 2 -9223372036854775808\n",
         "line 4: relative index"},
        {"ObjIndexZero", triangle + "f 0 1 2\n", "line 4: bad face vertex '0'"},
        {"ObjIndexNotANumber", triangle + "f 1 2 three\n", "bad face vertex 'three'"},
        {"ObjTooManySlashes", triangle + "f 1 2 3/1/1/1\n", "bad face vertex '3/1/1/1'"},
        {"ObjBadTextureIndex", triangle + "f 1 2/x 3\n", "bad face vertex '2/x'"},
        {"ObjTwoVertexFace", triangle + "f 1 2\n", "line 4: a face needs at least 3 vertices"},
        {"ObjUnknownStatement", triangle + "vertex 1 2 3\n",
         "line 4: 'vertex' is not an OBJ statement"},
        {"ObjBinaryData", std::string("v 0 0 0\n\x01\x02\0\x7f", 12), "line 2: binary data"},
        {"EmptyFile", "", "empty file"},
        {"PlyMagicWithoutNewline", "ply format ascii 1.0\nend_header\n",
         "'ply' is not an OBJ statement"},
        {"PlyUnknownEncoding", PlyHeader("binary_middle_endian", ""),
         "line 2: unknown encoding 'binary_middle_endian'"},
        {"PlyWrongVersion", "ply\nformat ascii 2.0\nend_header\n",
         "line 2: expected 'format <encoding> 1.0'"},
        {"PlyNoEndHeader", "ply\nformat ascii 1.0\nelement vertex 0\n", "no end_header line"},
        {"PlyNoFormat", "ply\nelement vertex 0\nend_header\n", "end_header before any format line"},
        {"PlyUnknownKeyword", "ply\nformat ascii 1.0\nvertices 3\nend_header\n",
         "line 3: unknown keyword 'vertices'"},
        {"PlyPropertyBeforeElement", "ply\nformat ascii 1.0\nproperty float x\nend_header\n",
         "property before any element"},
        {"PlyUnknownType", PlyHeader("ascii", "element vertex 1\nproperty float128 x\n"),
         "line 4: unknown type 'float128'"},
        {"PlyFloatListCount", PlyHeader("ascii", "element face 1\n"
         "property list float int vertex_indices\n"),
         "list count type 'float' is not an integer type"},
        {"PlyBadElementCount", PlyHeader("ascii", "element vertex -1\n"),
         "expected 'element <name> <count>'"},
        {"PlyNoVertexElement", PlyHeader("ascii", "element face 0\n"
         "property list uchar int vertex_indices\n"), "no vertex element"},
        {"PlyNoZ", PlyHeader("ascii", noZ) + "1 2\n", "the vertex element has no property z"},
        {"PlyCoordinateList", PlyHeader("ascii", "element vertex 1\nproperty list uchar float x\n"),
         "vertex property x is a list"},
        {"PlyFloatIndices", PlyHeader("ascii", "element vertex 0\n" + kXyz + "element face 0\n"
         "property list uchar float vertex_indices\n"),
         "face property vertex_indices is not a list of integers"},
        {"PlyFacesWithoutIndexList", PlyHeader("ascii", "element vertex 0\n" + kXyz +
         "element face 1\nproperty int flags\n") + "0\n",
         "the face element has no vertex_indices list"},
        {"PlyAsciiBadNumber", asciiHeader + "0 0 0\n1 zero 0\n0 1 0\n3 0 1 2\n",
         "vertex 1: y is not a float that fits a float"},
        {"PlyAsciiIndexOutOfRange", ascii + "3 0 1 3\n",
         "face 0: vertex index 3 out of range (3 vertices)"},
        {"PlyAsciiNegativeIndex", ascii + "3 0 -1 2\n",
         "face 0: a vertex index that is negative or not a int"},
        {"PlyAsciiCountTooLargeForItsType", ascii + "256 0 1 2\n",
         "face 0: vertex_indices has a bad list count"},
        {"PlyAsciiTwoVertexFace", ascii + "2 0 1\n", "face 0: a face of 2 vertices"},
        {"PlyAsciiTruncated", ascii + "3 0 1", "the file ends inside face 0"},
        {"PlyBinaryDoubleOutOfFloatRange", PlyHeader("binary_little_endian", "element vertex 1\n"
         "property float x\nproperty double y\nproperty float z\n") +
         PlyBody().Put(1.0f, 1e300, 1.0f).Bytes(), "vertex 0: y is not a double that fits a float"},
        {"PlyHugeVertexCount", binary("1000000000", "1") + body,
         "element vertex declares 1000000000 entries, more than the file's 49 body bytes can hold"},
        {"PlyVertexCountBeyond32Bits", binary("18446744073709551615", "1") + body,
         "18446744073709551615 vertices, more than 4294967295"},
        {"PlyHugeList",
         binary("3", "1") + points + PlyBody().Put(std::uint8_t{255}, 0u, 1u, 2u).Bytes(),
         "face 0: vertex_indices declares 255 items, more than the rest of the file holds"},
        {"PlyHugeUnusedList", PlyHeader("binary_little_endian", "element vertex 1\n" + kXyz +
         "property list uint double weights\n") +
         PlyBody().Put(0.f, 0.f, 0.f, 0xFFFFFFFFu, 1.0).Bytes(),
         "vertex 0: weights declares 4294967295 items"},
    };
    // clang-format on
}

class MeshFileTest : public ::testing::TestWithParam<MeshFile> {};

TEST_P(MeshFileTest, ReadsOrFailsWithAClearError) {
    testfiles::TempDir directory;
    const std::string path = directory.Write("mesh", GetParam().content).string();
    const MeshReadResult read = ReadMeshFile(path);
    ExpectSameMesh(read.mesh, GetParam().mesh);
    if (GetParam().error.empty()) {
        EXPECT_TRUE(read) << read.error.description();
        return;
    }
    EXPECT_EQ(read.error.code, Error::Malformed);
    EXPECT_EQ(read.error.path, path);
    const std::string said =
        (read.error.line ? "line " + std::to_string(read.error.line) + ": " : "") +
        read.error.message;
    EXPECT_NE(said.find(GetParam().error), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Good, MeshFileTest, ::testing::ValuesIn(GoodFiles()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Bad, MeshFileTest, ::testing::ValuesIn(BadFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MeshReadTest, BinaryPlyCutAtEverySeventhByte) {
    testfiles::TempDir directory;
    const std::string whole = (directory.path() / "whole.ply").string();
    MeshData mesh = Cube();
    mesh.positions.insert(mesh.positions.end(), {0.5f, 0.5f, 0.5f});
    mesh.indices.insert(mesh.indices.end(), {8, 0, 1});
    ASSERT_FALSE(WriteMeshFile(mesh, whole, MeshFormat::Ply));
    const std::string bytes = ReadFile(whole);
    int cuts = 0;
    for (std::size_t size = 0; size < bytes.size(); size += 7, ++cuts) {
        const MeshReadResult read =
            ReadMeshFile(directory.Write("cut.ply", bytes.substr(0, size)).string());
        EXPECT_EQ(read.error.code, Error::Malformed) << size << " of " << bytes.size();
        EXPECT_TRUE(read.mesh.positions.empty() && read.mesh.indices.empty());
    }
    EXPECT_GT(cuts, 50);
    EXPECT_EQ(ReadMeshFile(directory.path().string()).error.code, Error::NotRegularFile);
}

// ---- independent readers and writers ----

// What a shell command printed on standard output, and whether it exited 0.
struct CommandOutput {
    bool ok = false;
    std::string text;
};

CommandOutput RunCommand(const std::string& command) {
    CommandOutput output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        output.text.append(buffer, got);
    output.ok = ::pclose(pipe) == 0;
    return output;
}

// The same digest the Python side computes: a position-weighted sum of the float bits and of
// the indices, wrapping at 2^64.
std::uint64_t Digest(const std::vector<std::uint32_t>& values) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        sum += std::uint64_t{values[i]} * (i + 1);
    return sum;
}

// "read <file>" prints "<points> <triangles> <other cells> <position digest> <index digest>";
// "write <file> <mode> <dtype>" writes a strip of two triangles and a quad, coordinates exact in
// float and in decimal.
const char* const kMeshio = R"(
import sys, warnings
warnings.simplefilter("ignore")
import meshio, numpy as np
if sys.argv[1] == "read":
    m = meshio.read(sys.argv[2])
    p = np.ascontiguousarray(m.points, dtype=np.float32).reshape(-1)
    t = [c.data for c in m.cells if c.type == "triangle"]
    t = np.concatenate(t).astype(np.uint64).reshape(-1) if t else np.zeros(0, np.uint64)
    other = sum(len(c.data) for c in m.cells if c.type != "triangle")
    def digest(v):
        w = np.arange(1, v.size + 1, dtype=np.uint64)
        return int((v.astype(np.uint64) * w).sum(dtype=np.uint64))
    print(len(m.points), t.size // 3, other, digest(p.view(np.uint32)), digest(t))
else:
    p = [[0, 0, 0], [1.5, 0, -0.25], [1.5, 2, 0], [0, 2, 8], [3, 0, 1], [3, 2, -1e-3]]
    points = np.array(p, dtype=sys.argv[4])
    cells = [("triangle", np.array([[0, 1, 2], [0, 2, 3]])), ("quad", np.array([[1, 4, 5, 2]]))]
    meshio.write_points_cells(sys.argv[2], points, cells, **({"binary": sys.argv[3] == "binary"}
                              if sys.argv[2].endswith(".ply") else {}))
)";

TEST(IndependentCheckTest, MeshioReadsWhatWeWriteAndWeReadWhatItWrites) {
    // Debian's python3 has meshio (python3-meshio); the first on the path may not.
    std::string python = "python3";
    if (!RunCommand(python + " -c 'import meshio' 2>/dev/null").ok &&
        !RunCommand((python = "/usr/bin/python3") + " -c 'import meshio' 2>/dev/null").ok)
        GTEST_SKIP() << "no python3 with meshio (Debian: python3-meshio)";
    testfiles::TempDir directory;
    const std::string script = python + " '" + directory.Write("m.py", kMeshio).string() + "' ";
    for (const MeshData& mesh : {Cube(), Grid(224)}) {
        for (const char* name : {"ours.obj", "ours.ply"}) {
            const std::string path = (directory.path() / name).string();
            ASSERT_FALSE(WriteMeshFile(mesh, path, *FormatFromPath(path)));
            const CommandOutput output = RunCommand(script + "read '" + path + "'");
            ASSERT_TRUE(output.ok) << output.text;
            EXPECT_EQ(output.text, std::to_string(mesh.positions.size() / 3) + " " +
                                       std::to_string(mesh.indices.size() / 3) + " 0 " +
                                       std::to_string(Digest(Bits(mesh.positions))) + " " +
                                       std::to_string(Digest(mesh.indices)) + "\n")
                << name;
        }
    }
    const MeshData expected = {
        {0, 0, 0, 1.5f, 0, -0.25f, 1.5f, 2, 0, 0, 2, 8, 3, 0, 1, 3, 2, -1e-3f},
        {0, 1, 2, 0, 2, 3, 1, 4, 5, 1, 5, 2}};
    for (const char* variant : {"meshio.obj text float64", "ascii.ply ascii float64",
                                "binary.ply binary float64", "binary32.ply binary float32"}) {
        const std::string path = (directory.path() / variant).string();
        const CommandOutput output = RunCommand(script + "write " + path + " 2>&1");
        ASSERT_TRUE(output.ok) << output.text;
        const MeshReadResult read = ReadMeshFile(path.substr(0, path.find(' ')));
        ASSERT_TRUE(read) << variant << ": " << read.error.description();
        ExpectSameMesh(read.mesh, expected);
    }
}

// The number after "<label>:" at the start of a line of assimp's report, if any.
std::optional<std::uint64_t> AssimpCount(const std::string& report, const std::string& label) {
    std::smatch match;
    if (!std::regex_search(report, match, std::regex("(^|\n)[ \t]*" + label + ":[ \t]*(\\d+)")))
        return std::nullopt;
    return std::stoull(match[2]);
}

TEST(IndependentCheckTest, AssimpAcceptsWhatWeWrite) {
    if (!RunCommand("assimp version >/dev/null 2>&1").ok)
        GTEST_SKIP() << "no assimp (Debian: assimp-utils)";
    testfiles::TempDir directory;
    for (const MeshData& mesh : {Cube(), Grid(20)}) {
        const std::uint64_t vertices = mesh.positions.size() / 3;
        const std::uint64_t triangles = mesh.indices.size() / 3;
        for (const char* name : {"ours.obj", "ours.ply"}) {
            SCOPED_TRACE(name);
            const std::string path = (directory.path() / name).string();
            ASSERT_FALSE(WriteMeshFile(mesh, path, *FormatFromPath(path)));
            const CommandOutput output = RunCommand("assimp info '" + path + "' 2>&1");
            ASSERT_TRUE(output.ok) << output.text;
            EXPECT_EQ(AssimpCount(output.text, "Faces"), triangles) << output.text;
            // Importers may give each corner its own vertex before joining identical ones.
            const std::uint64_t reported = AssimpCount(output.text, "Vertices").value_or(0);
            EXPECT_TRUE(reported == vertices || reported == 3 * triangles) << output.text;
        }
    }
}

// The view sees the pool's positions in place, whatever the record layout, and an empty shape
// gives an empty view.
TEST(ViewMeshTest, PositionsAndTrianglesWhereTheShapeKeepsThem) {
    const std::vector<float> positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const std::vector<std::uint32_t> indices = {0, 1, 2, 0, 2, 3};
    for (unsigned type = 0; type < VertexType::kKnownCount; ++type) {
        SCOPED_TRACE(type);
        SmartPtr<Shape> shape = MakeMeshShape(positions, indices, type);
        ASSERT_TRUE(shape);
        const MeshView view = ViewMesh(*shape);
        ASSERT_EQ(view.vertexCount, 4u);
        EXPECT_EQ(view.stride, VertexType(type).RecordLength());
        std::vector<float> seen;
        for (std::uint32_t v = 0; v < view.vertexCount; ++v)
            seen.insert(seen.end(), view.positions + v * view.stride,
                        view.positions + v * view.stride + 3);
        EXPECT_EQ(seen, positions);
        ASSERT_EQ(view.triangleCount, 2u);
        EXPECT_EQ(std::vector<std::uint32_t>(view.indices, view.indices + 6), indices);
        view.positions[0] = 7;  // writes land in the shape
        EXPECT_EQ(ExtractMesh(*shape).positions[0], 7);
    }
    SmartPtr<Shape> empty(new Shape);
    const MeshView none = ViewMesh(*empty);
    EXPECT_EQ(none.positions, nullptr);
    EXPECT_EQ(none.vertexCount + none.triangleCount, 0u);
}

}  // namespace
