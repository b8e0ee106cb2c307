// The tool's mesh files: OBJ and PLY written through a temporary file and read back, the readers
// fed hand-made files good and bad, and both checked against meshio and assimp when installed.
#include "kestrel/meshes/MeshFiles.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kestrel::meshes;
namespace fs = std::filesystem;

// A fresh directory under the system's temporary one, removed with everything in it.
class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (fs::temp_directory_path() / "kestrel-meshfiles-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
        EXPECT_FALSE(path_.empty()) << "cannot make a temporary directory";
    }
    ~TempDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

MeshData Cube() {
    MeshData mesh;
    for (int i = 0; i < 8; ++i) {
        mesh.positions.insert(mesh.positions.end(), {static_cast<float>(i & 1) - 0.5f,
                                                     static_cast<float>((i >> 1) & 1) - 0.5f,
                                                     static_cast<float>((i >> 2) & 1) - 0.5f});
    }
    mesh.indices = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                    2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
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

MeshData WriteAndRead(const MeshData& mesh, MeshFormat format, const std::string& path) {
    const kestrel::Error written = WriteMeshFile(mesh, path, format);
    EXPECT_FALSE(written) << written.description();
    MeshReadResult read = ReadMeshFile(path);
    EXPECT_TRUE(read) << read.error.description();
    return read.mesh;
}

// A refused write: its code, and its message after the path.
std::pair<kestrel::Error::Code, std::string> Refusal(const MeshData& mesh, const std::string& path,
                                                     MeshFormat format) {
    const kestrel::Error error = WriteMeshFile(mesh, path, format);
    EXPECT_EQ(error.path, path);
    return {error.code, error.message};
}

// Binary PLY bodies built value by value, in either byte order.
class PlyBody {
public:
    explicit PlyBody(bool bigEndian) : bigEndian_(bigEndian) {}

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

// ---- formats by name ----

TEST(FormatFromPathTest, ExtensionInAnyCase) {
    EXPECT_EQ(FormatFromPath("a.obj"), MeshFormat::Obj);
    EXPECT_EQ(FormatFromPath("dir/mesh.OBJ"), MeshFormat::Obj);
    EXPECT_EQ(FormatFromPath("/tmp/x.Ply"), MeshFormat::Ply);
    EXPECT_EQ(FormatFromPath("x.ply"), MeshFormat::Ply);
    EXPECT_EQ(FormatFromPath("x.stl"), std::nullopt);
    EXPECT_EQ(FormatFromPath("obj"), std::nullopt);
    EXPECT_EQ(FormatFromPath("mesh.obj/inner"), std::nullopt);
    EXPECT_EQ(FormatFromPath(""), std::nullopt);
}

// ---- round trips ----

TEST(MeshRoundTripTest, CubeBothFormats) {
    TempDirectory directory;
    ExpectSameMesh(WriteAndRead(Cube(), MeshFormat::Obj, directory.File("cube.obj")), Cube());
    ExpectSameMesh(WriteAndRead(Cube(), MeshFormat::Ply, directory.File("cube.ply")), Cube());
}

TEST(MeshRoundTripTest, HundredThousandTriangleGrid) {
    TempDirectory directory;
    const MeshData grid = Grid(224);
    ASSERT_GE(grid.indices.size() / 3, 100000u);
    ExpectSameMesh(WriteAndRead(grid, MeshFormat::Obj, directory.File("grid.obj")), grid);
    ExpectSameMesh(WriteAndRead(grid, MeshFormat::Ply, directory.File("grid.ply")), grid);
}

TEST(MeshRoundTripTest, EmptyMesh) {
    TempDirectory directory;
    ExpectSameMesh(WriteAndRead({}, MeshFormat::Obj, directory.File("empty.obj")), {});
    ExpectSameMesh(WriteAndRead({}, MeshFormat::Ply, directory.File("empty.ply")), {});
}

TEST(MeshRoundTripTest, ObjKeepsEveryFiniteFloatExactly) {
    TempDirectory directory;
    using Limits = std::numeric_limits<float>;
    MeshData mesh;
    mesh.positions = {0.0f,
                      -0.0f,
                      0.1f,
                      1.0f / 3.0f,
                      Limits::max(),
                      Limits::min(),
                      -Limits::max(),
                      Limits::denorm_min(),
                      -Limits::denorm_min(),
                      16777217.0f,
                      1e-30f,
                      123456.789f};
    mesh.indices = {0, 1, 2, 3, 2, 1};
    ExpectSameMesh(WriteAndRead(mesh, MeshFormat::Obj, directory.File("exact.obj")), mesh);
}

TEST(MeshRoundTripTest, PlyKeepsNonFiniteValuesBitForBit) {
    TempDirectory directory;
    MeshData mesh;
    for (std::uint32_t bits : {0x7FA00001u, 0xFFC12345u, 0x7FC00000u, 0x7F800000u, 0xFF800000u,
                               0x80000000u, 0x00000001u, 0x3F800000u, 0xC2F6E979u}) {
        mesh.positions.push_back(std::bit_cast<float>(bits));
    }
    mesh.indices = {0, 1, 2};
    ExpectSameMesh(WriteAndRead(mesh, MeshFormat::Ply, directory.File("nan.ply")), mesh);
}

// ---- what is written ----

TEST(MeshWriteTest, ObjText) {
    TempDirectory directory;
    MeshData mesh;
    mesh.positions = {0.1f, -2.0f, 1e10f, 0.0f, 1.5f, -0.0f, 3.0f, 0.25f, 1e-7f};
    mesh.indices = {0, 1, 2};
    const std::string path = directory.File("t.obj");
    ASSERT_FALSE(WriteMeshFile(mesh, path, MeshFormat::Obj));
    EXPECT_EQ(ReadBytes(path),
              "# kestrel-sc mesh: 3 vertices, 1 triangles\n"
              "v 0.1 -2 1e+10\n"
              "v 0 1.5 -0\n"
              "v 3 0.25 1e-07\n"
              "f 1 2 3\n");
}

TEST(MeshWriteTest, PlyLayout) {
    TempDirectory directory;
    const std::string path = directory.File("t.ply");
    ASSERT_FALSE(WriteMeshFile(Cube(), path, MeshFormat::Ply));
    const std::string header =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment kestrel-sc mesh\n"
        "element vertex 8\n"
        "property float x\n"
        "property float y\n"
        "property float z\n"
        "element face 12\n"
        "property list uchar uint vertex_indices\n"
        "end_header\n";
    const std::string bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), header.size() + 8 * 12 + 12 * 13);
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    PlyBody body(false);
    const MeshData cube = Cube();
    for (float value : cube.positions)
        body.Put(value);
    for (std::size_t i = 0; i < cube.indices.size(); i += 3)
        body.Put(std::uint8_t{3}, cube.indices[i], cube.indices[i + 1], cube.indices[i + 2]);
    EXPECT_EQ(bytes.substr(header.size()), body.Bytes());
}

TEST(MeshWriteTest, ObjRefusesNonFiniteCoordinates) {
    TempDirectory directory;
    for (float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        MeshData mesh = Cube();
        mesh.positions[7] = bad;
        EXPECT_EQ(Refusal(mesh, directory.File("bad.obj"), MeshFormat::Obj),
                  std::make_pair(kestrel::Error::NotSavable,
                                 std::string("vertex 2 is not finite, which OBJ cannot carry (PLY "
                                             "can)")));
    }
    EXPECT_TRUE(directory.Entries().empty());
}

TEST(MeshWriteTest, RefusesMalformedMeshes) {
    TempDirectory directory;
    const std::string path = directory.File("bad.ply");
    for (MeshFormat format : {MeshFormat::Obj, MeshFormat::Ply}) {
        const auto notSavable = [](const char* message) {
            return std::make_pair(kestrel::Error::NotSavable, std::string(message));
        };
        MeshData mesh = Cube();
        mesh.indices[5] = 8;
        EXPECT_EQ(Refusal(mesh, path, format),
                  notSavable("triangle 1 has vertex index 8 out of range (8 vertices)"));
        mesh = Cube();
        mesh.positions.pop_back();
        EXPECT_EQ(Refusal(mesh, path, format),
                  notSavable("positions and indices must come in threes"));
        mesh = Cube();
        mesh.indices.pop_back();
        EXPECT_EQ(Refusal(mesh, path, format),
                  notSavable("positions and indices must come in threes"));
    }
    EXPECT_TRUE(directory.Entries().empty());
}

TEST(MeshWriteTest, FailedWriteLeavesNoPartialFile) {
    TempDirectory directory;
    EXPECT_EQ(Refusal(Cube(), directory.File("missing/cube.obj"), MeshFormat::Obj).first,
              kestrel::Error::WriteFailed);

    // The rename over a directory fails once the whole temporary file has been written.
    fs::create_directory(directory.File("taken.ply"));
    EXPECT_EQ(Refusal(Cube(), directory.File("taken.ply"), MeshFormat::Ply).first,
              kestrel::Error::WriteFailed);
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"taken.ply"});

    // A refused mesh keeps the file that was there.
    const std::string kept = directory.File("kept.obj");
    WriteBytes(kept, "old content");
    MeshData bad = Cube();
    bad.indices[0] = 99;
    EXPECT_EQ(Refusal(bad, kept, MeshFormat::Obj).first, kestrel::Error::NotSavable);
    EXPECT_EQ(ReadBytes(kept), "old content");
}

TEST(MeshWriteTest, ReplacesAnExistingFile) {
    TempDirectory directory;
    const std::string path = directory.File("mesh.ply");
    WriteBytes(path, "old content");
    ExpectSameMesh(WriteAndRead(Cube(), MeshFormat::Ply, path), Cube());
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"mesh.ply"});
}

// ---- reading: files that must read ----

struct GoodFile {
    const char* name;
    std::string content;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
};

void PrintTo(const GoodFile& row, std::ostream* out) {
    *out << row.name;
}

const std::vector<float> kSquare = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
const std::vector<float> kTriangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};

std::string PlyHeader(const std::string& format, const std::string& elements) {
    return "ply\nformat " + format + " 1.0\n" + elements + "end_header\n";
}

std::vector<GoodFile> GoodFiles() {
    std::vector<GoodFile> rows;
    rows.push_back({"ObjTriangles",
                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n",
                    kSquare,
                    {0, 1, 2, 0, 2, 3}});
    rows.push_back({"ObjQuad",
                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n",
                    kSquare,
                    {0, 1, 2, 0, 2, 3}});
    rows.push_back({"ObjPentagonFan",
                    "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 1 0\nf 1 2 3 4 5\n",
                    {0, 0, 0, 1, 0, 0, 2, 1, 0, 1, 2, 0, 0, 1, 0},
                    {0, 1, 2, 0, 2, 3, 0, 3, 4}});
    rows.push_back({"ObjNegativeIndices",
                    "v 9 9 9\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf -3 -2 -1\nv 0 1 0\nf -4 -2 -1\n",
                    {9, 9, 9, 0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0},
                    {1, 2, 3, 1, 3, 4}});
    rows.push_back({"ObjSlashForms",
                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvn 0 0 1\n"
                    "f 1/1 2/2 3/1\nf 1//1 3//1 4//1\nf 1/2/1 2/1/1 4/2/1\nf 4/-1/-1 3// 2/1/\n",
                    kSquare,
                    {0, 1, 2, 0, 2, 3, 0, 1, 3, 3, 2, 1}});
    rows.push_back({"ObjCommentsAndIgnoredStatements",
                    "# made by hand\nmtllib scene.mtl\no Square\ng side\ns off\nusemtl red\n"
                    "\n   \t\nv 0 0 0 # origin\nv 1 0 0\nv\t1 1 0\nv 0 1 0\nvp 0.5\nl 1 2\n"
                    "p 3\nf 1 2 3 # first\n#f 9 9 9\nf 1 3 4\n",
                    kSquare,
                    {0, 1, 2, 0, 2, 3}});
    rows.push_back({"ObjExtraValuesIgnored",
                    "v 0 0 0 1\nv 1 0 0 1.0\nv 0 1 0 0.5 0.2 0.3\nf 1 2 3\n",
                    kTriangle,
                    {0, 1, 2}});
    rows.push_back({"ObjCrLfTabsPlusSignsExponents",
                    "v +0 0e0 0\r\nv\t1.0E0\t-0.0\t.0\r\nv 0 +1e+0 0\r\nf 1 2 3\r\n",
                    {0, 0, 0, 1, -0.0f, 0, 0, 1, 0},
                    {0, 1, 2}});
    rows.push_back(
        {"ObjFaceBeforeItsVertices", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n", kTriangle, {0, 1, 2}});
    rows.push_back({"ObjByteOrderMark",
                    "\xEF\xBB\xBFv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
                    kTriangle,
                    {0, 1, 2}});
    rows.push_back({"ObjNoFaces", "v 1 2 3\n", {1, 2, 3}, {}});
    rows.push_back(
        {"ObjNoFinalNewline", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3", kTriangle, {0, 1, 2}});

    rows.push_back({"PlyAscii",
                    PlyHeader("ascii",
                              "comment by hand\nelement vertex 4\nproperty float x\n"
                              "property float y\nproperty float z\nelement face 1\n"
                              "property list uchar int vertex_indices\n") +
                        "0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n",
                    kSquare,
                    {0, 1, 2, 0, 2, 3}});
    rows.push_back({"PlyAsciiCrLfDoubleAndVertexIndex",
                    "ply\r\nformat ascii 1.0\r\nelement vertex 3\r\nproperty double x\r\n"
                    "property double y\r\nproperty double z\r\nelement face 1\r\n"
                    "property list uint8 uint16 vertex_index\r\nend_header\r\n"
                    "0.0 0.0 0.0\r\n1.0 0.0 0.0\r\n0.0 1.0 0.0\r\n3 0 1 2\r\n",
                    kTriangle,
                    {0, 1, 2}});
    {
        PlyBody body(true);
        for (std::size_t i = 0; i < kSquare.size(); ++i)
            body.Put(kSquare[i]);
        body.Put(std::uint8_t{4}, 0u, 1u, 2u, 3u);
        rows.push_back({"PlyBigEndian",
                        PlyHeader("binary_big_endian",
                                  "element vertex 4\nproperty float x\nproperty float y\n"
                                  "property float z\nelement face 1\n"
                                  "property list uchar uint vertex_indices\n") +
                            body.Bytes(),
                        kSquare,
                        {0, 1, 2, 0, 2, 3}});
    }
    {
        PlyBody body(false);
        body.Put(0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.1, 1.0, -2.5);
        body.Put(std::int32_t{3}, std::int32_t{0}, std::int32_t{1}, std::int32_t{2});
        rows.push_back({"PlyDoubleCoordinatesIntLists",
                        PlyHeader("binary_little_endian",
                                  "element vertex 3\nproperty float64 x\nproperty float64 y\n"
                                  "property float64 z\nelement face 1\n"
                                  "property list int int vertex_indices\n") +
                            body.Bytes(),
                        {0, 0, 0, 1, 0, 0, static_cast<float>(0.1), 1, -2.5f},
                        {0, 1, 2}});
    }
    {
        PlyBody body(false);
        body.Put(std::int8_t{-3}, std::int16_t{4}, std::int32_t{-5}, 7u);
        body.Put(std::int8_t{1}, std::int16_t{-2}, std::int32_t{3}, 8u);
        body.Put(std::uint8_t{3}, std::uint16_t{2}, std::uint16_t{1}, std::uint16_t{0});
        rows.push_back({"PlyIntegerCoordinatesAndFaceLookalikes",
                        PlyHeader("binary_little_endian",
                                  "element vertex 2\nproperty char x\nproperty short y\n"
                                  "property int z\nproperty uint id\nelement nothing 0\n"
                                  "element face 0\nproperty list uchar ushort vertex_indices\n"
                                  "element faces 1\nproperty list uchar ushort vertex_indices\n") +
                            body.Bytes(),
                        {-3, 4, -5, 1, -2, 3},
                        {}});
    }
    {
        // Normals, colours and a list on each vertex, faces with flags and texture coordinates,
        // and elements of other kinds before, between and after.
        PlyBody body(false);
        body.Put(1.0f, 2.0f);  // two "camera" entries
        for (std::size_t v = 0; v < 4; ++v) {
            body.Put(0.0f, 0.0f, 1.0f);  // nx ny nz
            body.Put(kSquare[v * 3 + 2], kSquare[v * 3 + 1]);
            body.Put(std::uint8_t{255}, std::uint8_t{128}, std::uint8_t{0});
            body.Put(kSquare[v * 3]);
            body.Put(std::uint8_t{2}, 0.5, 0.25);
        }
        body.Put(std::int32_t{7}, std::uint8_t{4}, 0u, 1u, 2u, 3u);
        body.Put(std::uint8_t{8}, 0.f, 0.f, 1.f, 0.f, 1.f, 1.f, 0.f, 1.f);
        body.Put(std::int32_t{8}, std::uint8_t{3}, 0u, 1u, 3u);
        body.Put(std::uint8_t{0});
        body.Put(std::int32_t{0}, std::int32_t{1});  // one edge
        rows.push_back({"PlyExtraPropertiesAndElements",
                        PlyHeader("binary_little_endian",
                                  "obj_info made by hand\nelement camera 2\nproperty float view\n"
                                  "element vertex 4\nproperty float nx\nproperty float ny\n"
                                  "property float nz\nproperty float z\nproperty float y\n"
                                  "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                                  "property float x\nproperty list uchar double weights\n"
                                  "element face 2\nproperty int flags\n"
                                  "property list uchar uint vertex_indices\n"
                                  "property list uchar float texcoord\nelement edge 1\n"
                                  "property int vertex1\nproperty int vertex2\n") +
                            body.Bytes(),
                        kSquare,
                        {0, 1, 2, 0, 2, 3, 0, 1, 3}});
    }
    {
        PlyBody body(false);
        body.Put(std::uint8_t{3}, 2u, 1u, 0u);
        for (float value : kTriangle)
            body.Put(value);
        rows.push_back({"PlyFacesBeforeVertices",
                        PlyHeader("binary_little_endian",
                                  "element face 1\nproperty list uchar uint vertex_indices\n"
                                  "element vertex 3\nproperty float x\nproperty float y\n"
                                  "property float z\n") +
                            body.Bytes(),
                        kTriangle,
                        {2, 1, 0}});
    }
    rows.push_back({"PlyVerticesOnly",
                    PlyHeader("ascii",
                              "element vertex 1\nproperty float x\nproperty float y\n"
                              "property float z\n") +
                        "1 2 3\n",
                    {1, 2, 3},
                    {}});
    rows.push_back({"PlyEmptyElementOfHugeCount",
                    PlyHeader("ascii",
                              "element vertex 1\nproperty float x\nproperty float y\n"
                              "property float z\nelement nothing 18446744073709551615\n") +
                        "1 2 3\n",
                    {1, 2, 3},
                    {}});
    return rows;
}

class GoodFileTest : public ::testing::TestWithParam<GoodFile> {};

TEST_P(GoodFileTest, Reads) {
    TempDirectory directory;
    const std::string path = directory.File("mesh");
    WriteBytes(path, GetParam().content);
    const MeshReadResult read = ReadMeshFile(path);
    ASSERT_TRUE(read) << read.error.description();
    MeshData expected;
    expected.positions = GetParam().positions;
    expected.indices = GetParam().indices;
    ExpectSameMesh(read.mesh, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, GoodFileTest, ::testing::ValuesIn(GoodFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- reading: files that must not ----

struct BadFile {
    const char* name;
    std::string content;
    std::string error;  // a part of the message
};

void PrintTo(const BadFile& row, std::ostream* out) {
    *out << row.name;
}

const std::string kAsciiTriangleHeader =
    PlyHeader("ascii",
              "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
              "element face 1\nproperty list uchar int vertex_indices\n");

std::string BinaryTriangleHeader(const std::string& vertexCount, const std::string& faceCount) {
    return PlyHeader("binary_little_endian",
                     "element vertex " + vertexCount +
                         "\nproperty float x\nproperty float y\nproperty float z\n"
                         "element face " +
                         faceCount + "\nproperty list uchar uint vertex_indices\n");
}

std::string BinaryTriangleBody() {
    PlyBody body(false);
    for (float value : kTriangle)
        body.Put(value);
    body.Put(std::uint8_t{3}, 0u, 1u, 2u);
    return body.Bytes();
}

std::vector<BadFile> BadFiles() {
    const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    std::vector<BadFile> rows;
    rows.push_back({"ObjBadNumber", "v 0 0 0\nv 1 0 0\nv 0 x 0\n", "line 3: bad number 'x'"});
    rows.push_back({"ObjNumberOutOfFloatRange", "v 0 0 1e39\n", "line 1: bad number '1e39'"});
    rows.push_back({"ObjShortVertex", "v 0 0\n", "line 1: a vertex needs x, y and z"});
    rows.push_back({"ObjIndexOutOfRange", triangle + "f 1 2 3\nf 1 2 4\nf 1 2 3\n",
                    "line 5: vertex index 4 out of range (3 vertices)"});
    rows.push_back({"ObjRelativeIndexTooFar", triangle + "f -1 -2 -4\n",
                    "line 4: relative index -4 reaches before the first vertex"});
    rows.push_back({"ObjHugeRelativeIndex", triangle + "f 1 2 -9223372036854775808\n",
                    "line 4: relative index"});
    rows.push_back({"ObjIndexZero", triangle + "f 0 1 2\n", "line 4: bad face vertex '0'"});
    rows.push_back({"ObjIndexNotANumber", triangle + "f 1 2 three\n", "bad face vertex 'three'"});
    rows.push_back(
        {"ObjIndexTooLarge", triangle + "f 1 2 99999999999999999999\n", "bad face vertex"});
    rows.push_back(
        {"ObjTooManySlashes", triangle + "f 1 2 3/1/1/1\n", "bad face vertex '3/1/1/1'"});
    rows.push_back({"ObjBadTextureIndex", triangle + "f 1 2/x 3\n", "bad face vertex '2/x'"});
    rows.push_back(
        {"ObjTwoVertexFace", triangle + "f 1 2\n", "line 4: a face needs at least 3 vertices"});
    rows.push_back({"ObjUnknownStatement", triangle + "vertex 1 2 3\n",
                    "line 4: 'vertex' is not an OBJ statement"});
    rows.push_back(
        {"ObjBinaryData", std::string("v 0 0 0\n\x01\x02\0\x7f", 12), "line 2: binary data"});
    rows.push_back({"EmptyFile", "", "empty file"});

    const std::string body = BinaryTriangleBody();
    rows.push_back({"PlyWrongMagic", "plx" + BinaryTriangleHeader("3", "1").substr(3) + body,
                    "line 1: 'plx' is not an OBJ statement"});
    rows.push_back({"PlyMagicWithoutNewline", "ply format ascii 1.0\nend_header\n",
                    "'ply' is not an OBJ statement"});
    rows.push_back({"PlyUnknownEncoding", PlyHeader("binary_middle_endian", ""),
                    "line 2: unknown encoding 'binary_middle_endian'"});
    rows.push_back({"PlyWrongVersion", "ply\nformat ascii 2.0\nend_header\n",
                    "line 2: expected 'format <encoding> 1.0'"});
    rows.push_back(
        {"PlyNoEndHeader", "ply\nformat ascii 1.0\nelement vertex 0\n", "no end_header line"});
    rows.push_back({"PlyNoFormat", "ply\nelement vertex 0\nend_header\n",
                    "end_header before any format line"});
    rows.push_back({"PlyUnknownKeyword", "ply\nformat ascii 1.0\nvertices 3\nend_header\n",
                    "line 3: unknown keyword 'vertices'"});
    rows.push_back({"PlyPropertyBeforeElement",
                    "ply\nformat ascii 1.0\nproperty float x\nend_header\n",
                    "property before any element"});
    rows.push_back({"PlyUnknownType", PlyHeader("ascii", "element vertex 1\nproperty float128 x\n"),
                    "line 4: unknown type 'float128'"});
    rows.push_back({"PlyFloatListCount",
                    PlyHeader("ascii", "element face 1\nproperty list float int vertex_indices\n"),
                    "list count type 'float' is not an integer type"});
    rows.push_back({"PlyBadElementCount", PlyHeader("ascii", "element vertex -1\n"),
                    "expected 'element <name> <count>'"});
    rows.push_back({"PlyNoVertexElement",
                    PlyHeader("ascii", "element face 0\nproperty list uchar int vertex_indices\n"),
                    "no vertex element"});
    rows.push_back(
        {"PlyNoZ",
         PlyHeader("ascii", "element vertex 1\nproperty float x\nproperty float y\n") + "1 2\n",
         "the vertex element has no property z"});
    rows.push_back({"PlyCoordinateList",
                    PlyHeader("ascii", "element vertex 1\nproperty list uchar float x\n"),
                    "vertex property x is a list"});
    rows.push_back({"PlyFloatIndices",
                    PlyHeader("ascii",
                              "element vertex 0\nproperty float x\nproperty float y\n"
                              "property float z\nelement face 0\n"
                              "property list uchar float vertex_indices\n"),
                    "face property vertex_indices is not a list of integers"});
    rows.push_back({"PlyFacesWithoutIndexList",
                    PlyHeader("ascii",
                              "element vertex 0\nproperty float x\nproperty float y\n"
                              "property float z\nelement face 1\nproperty int flags\n") +
                        "0\n",
                    "the face element has no vertex_indices list"});
    rows.push_back({"PlyAsciiBadNumber", kAsciiTriangleHeader + "0 0 0\n1 zero 0\n0 1 0\n3 0 1 2\n",
                    "vertex 1: y is not a float that fits a float"});
    rows.push_back({"PlyAsciiIndexOutOfRange",
                    kAsciiTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
                    "face 0: vertex index 3 out of range (3 vertices)"});
    rows.push_back({"PlyAsciiNegativeIndex",
                    kAsciiTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n",
                    "face 0: a vertex index that is negative or not a int"});
    rows.push_back({"PlyAsciiCountTooLargeForItsType",
                    kAsciiTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n256 0 1 2\n",
                    "face 0: vertex_indices has a bad list count"});
    rows.push_back({"PlyAsciiTwoVertexFace", kAsciiTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n2 0 1\n",
                    "face 0: a face of 2 vertices"});
    rows.push_back({"PlyAsciiTruncated", kAsciiTriangleHeader + "0 0 0\n1 0 0\n0 1 0\n3 0 1",
                    "the file ends inside face 0"});
    rows.push_back({"PlyBinaryIndexOutOfRange",
                    BinaryTriangleHeader("3", "1") + body.substr(0, body.size() - 4) +
                        PlyBody(false).Put(7u).Bytes(),
                    "face 0: vertex index 7 out of range (3 vertices)"});
    rows.push_back({"PlyBinaryDoubleOutOfFloatRange",
                    PlyHeader("binary_little_endian",
                              "element vertex 1\nproperty float x\nproperty double y\n"
                              "property float z\n") +
                        PlyBody(false).Put(1.0f, 1e300, 1.0f).Bytes(),
                    "vertex 0: y is not a double that fits a float"});
    rows.push_back({"PlyHugeVertexCount", BinaryTriangleHeader("1000000000", "1") + body,
                    "element vertex declares 1000000000 entries, more than the file's 49 body "
                    "bytes can hold"});
    rows.push_back({"PlyVertexCountBeyond32Bits",
                    BinaryTriangleHeader("18446744073709551615", "1") + body,
                    "18446744073709551615 vertices, more than 4294967295"});
    rows.push_back({"PlyHugeFaceCount", BinaryTriangleHeader("3", "4000000000") + body,
                    "element face declares 4000000000 entries"});
    rows.push_back({"PlyAsciiHugeCount",
                    PlyHeader("ascii",
                              "element vertex 100\nproperty float x\n"
                              "property float y\nproperty float z\n") +
                        "0 0 0\n",
                    "element vertex declares 100 entries"});
    rows.push_back({"PlyHugeList",
                    BinaryTriangleHeader("3", "1") + body.substr(0, body.size() - 13) +
                        PlyBody(false).Put(std::uint8_t{255}, 0u, 1u, 2u).Bytes(),
                    "face 0: vertex_indices declares 255 items, more than the rest of the file "
                    "holds"});
    rows.push_back({"PlyHugeUnusedList",
                    PlyHeader("binary_little_endian",
                              "element vertex 1\nproperty float x\nproperty float y\n"
                              "property float z\nproperty list uint double weights\n") +
                        PlyBody(false).Put(0.f, 0.f, 0.f, 0xFFFFFFFFu, 1.0).Bytes(),
                    "vertex 0: weights declares 4294967295 items"});
    rows.push_back(
        {"PlyBinaryTruncated", BinaryTriangleHeader("3", "1") + body.substr(0, body.size() - 1),
         "face 0: vertex_indices declares 3 items, more than the rest of the file holds"});
    return rows;
}

class BadFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadFileTest, FailsWithAClearError) {
    TempDirectory directory;
    const std::string path = directory.File("mesh");
    WriteBytes(path, GetParam().content);
    const MeshReadResult read = ReadMeshFile(path);
    EXPECT_FALSE(read);
    EXPECT_EQ(read.error.code, kestrel::Error::Malformed);
    EXPECT_EQ(read.error.path, path);
    const std::string said =
        (read.error.line ? "line " + std::to_string(read.error.line) + ": " : "") +
        read.error.message;
    EXPECT_TRUE(Contains(said, GetParam().error)) << said;
    ExpectSameMesh(read.mesh, {});
}

INSTANTIATE_TEST_SUITE_P(Rows, BadFileTest, ::testing::ValuesIn(BadFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MeshReadTest, BinaryPlyCutAtEverySeventhByte) {
    TempDirectory directory;
    const std::string whole = directory.File("whole.ply");
    MeshData mesh = Cube();
    mesh.positions.insert(mesh.positions.end(), {0.5f, 0.5f, 0.5f});
    mesh.indices.insert(mesh.indices.end(), {8, 0, 1});
    ASSERT_FALSE(WriteMeshFile(mesh, whole, MeshFormat::Ply));
    const std::string bytes = ReadBytes(whole);
    const std::string cut = directory.File("cut.ply");
    int cuts = 0;
    for (std::size_t size = 0; size < bytes.size(); size += 7, ++cuts) {
        WriteBytes(cut, bytes.substr(0, size));
        const MeshReadResult read = ReadMeshFile(cut);
        EXPECT_EQ(read.error.code, kestrel::Error::Malformed) << size << " of " << bytes.size();
        EXPECT_TRUE(read.mesh.positions.empty() && read.mesh.indices.empty());
    }
    EXPECT_GT(cuts, 50);
}

TEST(MeshReadTest, FilesThatCannotBeRead) {
    TempDirectory directory;
    EXPECT_EQ(ReadMeshFile(directory.File("none.obj")).error.code, kestrel::Error::NotFound);
    fs::create_directory(directory.File("folder.ply"));
    EXPECT_EQ(ReadMeshFile(directory.File("folder.ply")).error.code,
              kestrel::Error::NotRegularFile);
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
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.text.append(buffer, got);
    output.ok = ::pclose(pipe) == 0;
    return output;
}

// A python3 that can import meshio (Debian: python3-meshio), which may not be the first python3
// on the path; empty when there is none.
const std::string& PythonWithMeshio() {
    static const std::string python = [] {
        for (const char* candidate : {"python3", "/usr/bin/python3"}) {
            if (RunCommand(std::string(candidate) + " -c 'import meshio' >/dev/null 2>&1").ok)
                return std::string(candidate);
        }
        return std::string();
    }();
    return python;
}

bool HaveAssimp() {
    static const bool have = RunCommand("assimp version >/dev/null 2>&1").ok;
    return have;
}

// The same digest the Python side computes: a position-weighted sum of the float bits and of
// the indices, wrapping at 2^64.
std::uint64_t Digest(const std::vector<std::uint32_t>& values) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        sum += std::uint64_t{values[i]} * (i + 1);
    return sum;
}

// Prints "<points> <triangles> <other cells> <position digest> <index digest>".
const char* const kMeshioSummary = R"(
import sys, warnings
warnings.simplefilter("ignore")
import meshio, numpy as np
m = meshio.read(sys.argv[1])
p = np.ascontiguousarray(m.points, dtype=np.float32).reshape(-1)
t = [c.data for c in m.cells if c.type == "triangle"]
t = np.concatenate(t).astype(np.uint64).reshape(-1) if t else np.zeros(0, np.uint64)
other = sum(len(c.data) for c in m.cells if c.type != "triangle")
def digest(v):
    return int((v.astype(np.uint64) * np.arange(1, v.size + 1, dtype=np.uint64)).sum(dtype=np.uint64))
print(len(m.points), t.size // 3, other, digest(p.view(np.uint32)), digest(t))
)";

TEST(IndependentCheckTest, MeshioReadsWhatWeWrite) {
    const std::string& python = PythonWithMeshio();
    if (python.empty())
        GTEST_SKIP() << "no python3 with meshio (Debian: python3-meshio)";
    TempDirectory directory;
    const std::string script = directory.File("summary.py");
    WriteBytes(script, kMeshioSummary);
    for (const MeshData& mesh : {Cube(), Grid(224)}) {
        for (const char* name : {"ours.obj", "ours.ply"}) {
            SCOPED_TRACE(name);
            const std::string path = directory.File(name);
            ASSERT_FALSE(WriteMeshFile(mesh, path, *FormatFromPath(path)));
            const CommandOutput output = RunCommand(python + " '" + script + "' '" + path + "'");
            ASSERT_TRUE(output.ok) << output.text;
            std::istringstream in(output.text);
            std::uint64_t points = 0, triangles = 0, other = 0, positionDigest = 0, indexDigest = 0;
            ASSERT_TRUE(in >> points >> triangles >> other >> positionDigest >> indexDigest)
                << output.text;
            EXPECT_EQ(points, mesh.positions.size() / 3);
            EXPECT_EQ(triangles, mesh.indices.size() / 3);
            EXPECT_EQ(other, 0u);
            EXPECT_EQ(positionDigest, Digest(Bits(mesh.positions)));
            EXPECT_EQ(indexDigest, Digest(mesh.indices));
        }
    }
}

TEST(IndependentCheckTest, WeReadWhatMeshioWrites) {
    const std::string& python = PythonWithMeshio();
    if (python.empty())
        GTEST_SKIP() << "no python3 with meshio (Debian: python3-meshio)";
    TempDirectory directory;
    const std::string script = directory.File("write.py");
    // A strip of two triangles and a quad, coordinates exact in float and in decimal.
    WriteBytes(script, R"(
import sys, warnings
warnings.simplefilter("ignore")
import meshio, numpy as np
points = np.array([[0, 0, 0], [1.5, 0, -0.25], [1.5, 2, 0], [0, 2, 8], [3, 0, 1], [3, 2, -1e-3]],
                  dtype=sys.argv[3])
cells = [("triangle", np.array([[0, 1, 2], [0, 2, 3]])), ("quad", np.array([[1, 4, 5, 2]]))]
meshio.write_points_cells(sys.argv[1], points, cells, **({"binary": sys.argv[2] == "binary"}
                          if sys.argv[1].endswith(".ply") else {}))
)");
    MeshData expected;
    expected.positions = {0, 0, 0, 1.5f, 0, -0.25f, 1.5f, 2, 0, 0, 2, 8, 3, 0, 1, 3, 2, -1e-3f};
    expected.indices = {0, 1, 2, 0, 2, 3, 1, 4, 5, 1, 5, 2};
    struct Variant {
        const char* file;
        const char* mode;
        const char* dtype;
    };
    for (const Variant& variant :
         {Variant{"meshio.obj", "text", "float64"}, Variant{"ascii.ply", "ascii", "float64"},
          Variant{"binary.ply", "binary", "float64"},
          Variant{"binary32.ply", "binary", "float32"}}) {
        SCOPED_TRACE(variant.file);
        const std::string path = directory.File(variant.file);
        const CommandOutput output = RunCommand(python + " '" + script + "' '" + path + "' " +
                                                variant.mode + " " + variant.dtype + " 2>&1");
        ASSERT_TRUE(output.ok) << output.text;
        const MeshReadResult read = ReadMeshFile(path);
        ASSERT_TRUE(read) << read.error.description();
        ExpectSameMesh(read.mesh, expected);
    }
}

// The number after "<label>:" in assimp's report, if any.
std::optional<std::uint64_t> AssimpCount(const std::string& report, const std::string& label) {
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line.compare(at, label.size() + 1, label + ":") != 0)
            continue;
        std::istringstream rest(line.substr(at + label.size() + 1));
        std::uint64_t count = 0;
        if (rest >> count)
            return count;
    }
    return std::nullopt;
}

TEST(IndependentCheckTest, AssimpAcceptsWhatWeWrite) {
    if (!HaveAssimp())
        GTEST_SKIP() << "no assimp (Debian: assimp-utils)";
    TempDirectory directory;
    for (const MeshData& mesh : {Cube(), Grid(20)}) {
        const std::uint64_t vertices = mesh.positions.size() / 3;
        const std::uint64_t triangles = mesh.indices.size() / 3;
        for (const char* name : {"ours.obj", "ours.ply"}) {
            SCOPED_TRACE(name);
            const std::string path = directory.File(name);
            ASSERT_FALSE(WriteMeshFile(mesh, path, *FormatFromPath(path)));
            const CommandOutput output = RunCommand("assimp info '" + path + "' 2>&1");
            ASSERT_TRUE(output.ok) << output.text;
            EXPECT_EQ(AssimpCount(output.text, "Faces"), triangles) << output.text;
            // Importers may give each corner its own vertex before joining identical ones.
            const std::optional<std::uint64_t> reported = AssimpCount(output.text, "Vertices");
            ASSERT_TRUE(reported) << output.text;
            EXPECT_TRUE(*reported == vertices || *reported == 3 * triangles)
                << *reported << " vertices reported, " << vertices << " written";
        }
    }
}

}  // namespace
