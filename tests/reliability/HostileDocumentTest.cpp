// Documents built to hurt a loader: entity bombs, external entities, extreme nesting and width,
// counts that promise billions of records, gigabyte payloads and giant attribute values. Each is
// loaded through the module in a child process, which reports the outcome and its peak memory.
// The default run uses scaled-down sizes; KESTREL_HOSTILE_FULL=1 the full ones (1 GB payloads,
// 10,000,000 siblings), meant for a Release build: tests/reliability/run-hostile-full.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/Image.h"
#include "geometry/MeshBuilder.h"
#include "kestrel/load/Content.h"
#include "serializedContent/TestFiles.h"
#include "utilities/Base64.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_ASAN 1
#endif
#endif

namespace {

using Tree = SerializedContentElement;
using U = std::uint64_t;

// Buffered output of large generated files.
class Out {
public:
    explicit Out(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~Out() { std::fclose(file_); }
    Out& operator<<(std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), file_);
        return *this;
    }
    // text, count times.
    Out& Repeat(std::string_view text, U count) {
        const U perBlock = std::max<U>(1, (1u << 20) / text.size());
        std::string block;
        for (U i = 0; i < std::min(perBlock, count); ++i)
            block += text;
        for (U now; count > 0; count -= now) {
            now = std::min(perBlock, count);
            std::fwrite(block.data(), 1, now * text.size(), file_);
        }
        return *this;
    }

private:
    std::FILE* file_;
};

const std::string kE = "<content><kestrel_sc:e>";
const std::string kEndE = "</kestrel_sc:e></content>\n";

// ---- documents ----

// Entities that expand to 10^9 copies of "lol", in element text and (but in UTF-16) an
// attribute: the entity budget stops the expansion once it passes 8 MiB.
std::string Laughs(bool utf16) {
    std::string text = std::string("<?xml version=\"1.0\"") +
                       (utf16 ? " encoding=\"UTF-16\"" : "") +
                       "?>\n<!DOCTYPE content [\n  <!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        text += "  <!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i)
            text += "&lol" + (level == 1 ? std::string() : std::to_string(level - 1)) + ";";
        text += "\">\n";
    }
    text += "]>\n" + kE +
            "<kestrel_sc:property type=\"string\" name=\"text\">&lol9;</kestrel_sc:property>";
    if (!utf16)
        text += "<kestrel_sc:property type=\"string\" name=\"attribute\" value=\"&lol9;\"/>";
    return text + kEndE;
}

void BillionLaughs(Out& out, U) {
    out << Laughs(false);
}

// Converted to UTF-8 first, then read the same way.
void BillionLaughsUtf16(Out& out, U) {
    std::string utf16 = "\xFF\xFE";
    for (char c : Laughs(true))
        utf16 += {c, '\0'};
    out << utf16;
}

// A local file and URLs on a port the test listens on: nothing may be read or fetched.
std::string g_url;

void ExternalEntities(Out& out, U) {
    out << "<?xml version=\"1.0\"?>\n<!DOCTYPE content SYSTEM \"" << g_url
        << "dtd\" [\n  <!ENTITY passwd SYSTEM \"file:///etc/passwd\">\n  <!ENTITY web SYSTEM \""
        << g_url << "entity\">\n  <!ENTITY % remote SYSTEM \"" << g_url
        << "parameter\">\n  %remote;\n]>\n"
        << kE
        << "<kestrel_sc:property type=\"string\" name=\"passwd\">&passwd;</kestrel_sc:property>"
        << "<kestrel_sc:property type=\"string\" name=\"web\" value=\"&web;\"/>" << kEndE;
}

void DeepNesting(Out& out, U depth) {
    out.Repeat("<a>", depth + 1).Repeat("</a>", depth + 1) << "\n";
}

// Latin-1, which the converting parser reads.
void DeepNestingLatin1(Out& out, U depth) {
    out << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    DeepNesting(out, depth);
}

void DeepNestingUnclosed(Out& out, U depth) {
    out << "<content>";
    out.Repeat("<a>", depth);
}

void ManySiblings(Out& out, U count) {
    out << "<content>";
    out.Repeat("<b/>", count) << "</content>\n";
}

// One property element carrying count attributes besides its own.
void ManyAttributes(Out& out, U count) {
    out << kE << "<kestrel_sc:property type=\"int32\" name=\"n\"";
    for (U i = 0; i < count; ++i)
        out << " a" << std::to_string(i) << "=\"1\"";
    out << ">7</kestrel_sc:property>" << kEndE;
}

void ManyProperties(Out& out, U count) {
    out << kE;
    out.Repeat("<kestrel_sc:property type=\"int32\" name=\"n\">7</kestrel_sc:property>", count)
        << kEndE;
}

template <class T>
std::string Record(T a, T b, T c) {
    const T values[] = {a, b, c};
    return Base64::Encode(values, sizeof values);
}
const std::string kTriangle = Record<std::uint32_t>(0, 1, 2);
const std::string kZeros = Record<std::uint32_t>(0, 0, 0);

// Counts of 4294967295 ("-1" too) and one beyond 32 bits in front of one value, vertex and
// triangle.
void HugeCounts(Out& out, U) {
    out << kE
        << "<kestrel_sc:property_array type=\"uint32\" name=\"array\" count=\"4294967295\">"
           "<kestrel_sc:property>5</kestrel_sc:property></kestrel_sc:property_array>"
           "<kestrel_sc:property type=\"shape\" name=\"mesh\"><vertices count=\"4294967295\">"
        << Record<float>(1, 2, 3) << "</vertices><triangles count=\"4294967295\">" << kZeros
        << "</triangles></kestrel_sc:property><kestrel_sc:property type=\"shape\" name=\"signed\">"
           "<vertices count=\"-1\">"
        << Record<float>(4, 5, 6) << "</vertices><triangles count=\"99999999999999999999\">"
        << kZeros << "</triangles></kestrel_sc:property>" << kEndE;
}

std::string Le(U value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

// The 54-byte header of a 24-bit BI_RGB BMP file.
std::string BmpHeader(U width, U height) {
    const U pixels = width * height * 3;
    return "BM" + Le(54 + pixels, 4) + Le(0, 4) + Le(54, 4) + Le(40, 4) + Le(width, 4) +
           Le(height, 4) + Le(1, 2) + Le(24, 2) + Le(0, 4) + Le(pixels, 4) + Le(2835, 4) +
           Le(2835, 4) + Le(0, 8);
}

// Headers promising the largest pictures the reader takes, with a few bytes of pixels.
void HugeImageHeaders(Out& out, U) {
    out << kE;
    for (auto [width, height] :
         {std::pair<U, U>{16384, 16384}, {65535, 4096}, {65535, 65535}, {4294967295u, 1}}) {
        const std::string bytes = BmpHeader(width, height) + std::string(12, '\x7f');
        out << "<kestrel_sc:property type=\"image\" name=\"" << std::to_string(width) << "x"
            << std::to_string(height) << "\">" << Base64::Encode(bytes.data(), bytes.size())
            << "</kestrel_sc:property>";
    }
    out << kEndE;
}

// side x side pixels, all alike: 4 x side^2 Base64 characters (1 GiB for 16384, the largest
// image the reader takes).
void BigImage(Out& out, U side) {
    const std::string header = BmpHeader(side, side);
    out << kE << "<kestrel_sc:property type=\"image\" name=\"big\">"
        << Base64::Encode(header.data(), header.size());
    out.Repeat(Base64::Encode("\x10\x20\x30", 3), side * side) << "</kestrel_sc:property>" << kEndE;
}

// vertices records of 16 Base64 characters (1 GiB for 2^26) and one triangle.
void BigShape(Out& out, U vertices) {
    out << kE << "<kestrel_sc:property type=\"shape\" name=\"big\"><vertices count=\""
        << std::to_string(vertices) << "\">";
    out.Repeat(Record<float>(1, 2, 3), vertices)
        << "</vertices><triangles count=\"1\">" << kTriangle << "</triangles></kestrel_sc:property>"
        << kEndE;
}

// A property name, a plain string value and one of "&amp;", of bytes bytes each.
void BigAttributes(Out& out, U bytes) {
    out << kE << "<kestrel_sc:property type=\"string\" name=\"";
    out.Repeat("n", bytes) << "\" value=\"short\"/><kestrel_sc:property type=\"string\" "
                              "name=\"plain\" value=\"";
    out.Repeat("v", bytes) << "\"/><kestrel_sc:property type=\"string\" name=\"escaped\" value=\"";
    out.Repeat("&amp;", bytes / 5) << "\"/>" << kEndE;
}

void UnclosedAttribute(Out& out, U bytes) {
    out << kE << "<kestrel_sc:property type=\"string\" name=\"s\" value=\"";
    out.Repeat("v", bytes) << "/>" << kEndE;
}

// ---- checks of loaded trees: "" when the tree is as expected ----

template <class T>
const T* Value(const Tree& tree, const char* name) {
    const SerializedContentElement* e = tree.GetChildCount() ? tree.GetChild(0) : nullptr;
    const SerializedContentElement::Property* property =
        e ? e->FindProperty(Symbol(name)) : nullptr;
    return property ? std::get_if<T>(&property->value) : nullptr;
}

// depth levels below the top element, one child each.
bool CheckDepth(const Tree& tree, U depth) {
    const SerializedContentElement* at = &tree;
    for (U level = 0; level < depth; ++level, at = at->GetChild(0)) {
        if (at->GetChildCount() != 1)
            return false;
    }
    return at->GetChildCount() == 0;
}

bool CheckChildren(const Tree& tree, U count) {
    return tree.GetChildCount() == count;
}

bool CheckProperties(const Tree& tree, U count) {
    return tree.GetChildCount() == 1 && tree.GetChild(0)->GetProperties().size() == count;
}

bool CheckAttributeCount(const Tree& tree, U) {
    const std::int32_t* value = Value<std::int32_t>(tree, "n");
    return value && *value == 7;
}

// The shape's vertex count, triangle count and last coordinate.
bool MeshIs(const Tree& tree, const char* name, U vertices, U triangles, float last) {
    const SmartPtr<Shape>* shape = Value<SmartPtr<Shape>>(tree, name);
    if (!shape || !*shape)
        return false;
    const MeshData mesh = ExtractMesh(**shape);
    return mesh.positions.size() == 3 * vertices && mesh.indices.size() == 3 * triangles &&
           mesh.positions.back() == last;
}

// "-1" is 4294967295 as well; a count beyond 32 bits reads as 0: no triangles.
bool CheckCounts(const Tree& tree, U) {
    const auto* array = Value<std::vector<std::uint32_t>>(tree, "array");
    return array && *array == std::vector<std::uint32_t>{5} && MeshIs(tree, "mesh", 1, 1, 3) &&
           MeshIs(tree, "signed", 1, 0, 6);
}

bool CheckImage(const Tree& tree, U side) {
    const SmartPtr<Image>* image = Value<SmartPtr<Image>>(tree, "big");
    if (!image || !*image || (*image)->GetWidth() != side || (*image)->GetHeight() != side ||
        (*image)->GetFormat() != PixelFormat::RGB8)
        return false;
    const std::uint8_t* pixels = (*image)->GetPixels();
    const std::size_t last = (*image)->GetPixelBytes() - 3;  // BMP stores blue, green, red
    return pixels[0] == 0x30 && pixels[1] == 0x20 && pixels[2] == 0x10 && pixels[last] == 0x30;
}

bool CheckShape(const Tree& tree, U vertices) {
    return MeshIs(tree, "big", vertices, 1, 3);
}

bool CheckAttributes(const Tree& tree, U bytes) {
    const auto& properties = tree.GetChild(0)->GetProperties();
    const Symbol* plain = Value<Symbol>(tree, "plain");
    const Symbol* escaped = Value<Symbol>(tree, "escaped");
    return properties.size() == 3 && properties[0].name.view() == std::string(bytes, 'n') &&
           plain && plain->view() == std::string(bytes, 'v') && escaped &&
           escaped->view() == std::string(bytes / 5, '&');
}

// ---- loading in a child process ----

struct HostileRow {
    const char* name;
    void (*write)(Out&, U);
    U ciSize;    // the size parameter in the default run
    U fullSize;  // with KESTREL_HOSTILE_FULL
    // For a document that must load: checks the tree. Null when it must fail with error and
    // message ("line:column: ...").
    bool (*check)(const Tree&, U);
    kestrel::Error::Code error;
    std::function<std::string(U size)> message;
    // Peak memory of the load may be at most this many bytes per byte of the file, plus 64 MiB.
    double bytesPerByte;
    // When not 0, the load runs with this much address space (not under ASan, which reserves
    // terabytes of it) and must fail cleanly for want of memory.
    U addressSpace = 0;
};

struct Outcome {
    std::string status;  // "" when the child finished, else why not
    int code = 0;
    U peakBytes = 0;
    std::string problem;  // from the row's check
    std::string message;
};

U StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(prefix))
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
    }
    return 0;
}

// Loads path in a child process, which an alarm ends when it hangs.
Outcome LoadInChild(const std::string& path, const HostileRow& row, U size, unsigned timeout) {
    Outcome outcome;
    int fds[2];
    if (::pipe(fds) != 0)
        return {"no pipe", 0, 0, "", ""};
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        ::alarm(timeout);
        if (row.addressSpace != 0) {
            const rlimit limit{row.addressSpace, row.addressSpace};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        // The peak from here on is the load's: reset the high-water mark to the current size.
        std::ofstream("/proc/self/clear_refs") << "5";
        const U before = StatusKiB("VmRSS");
        std::ostringstream report;
        {
            kestrel::LoadResult result = kestrel::Load(path);
            const U peak = StatusKiB("VmHWM");  // before the check copies anything
            report << static_cast<int>(result.error.code) << " "
                   << (peak > before ? peak - before : 0) * 1024 << "\n"
                   << (result && row.check && !row.check(*result.tree, size) ? "not as written"
                                                                             : "")
                   << "\n";
            if (result.error.line)
                report << result.error.line << ":" << result.error.column << ": ";
            report << result.error.message;
        }  // the tree is freed here: freeing must not crash either
        const std::string text = report.str();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        outcome.status =
            "killed by signal " + std::to_string(WTERMSIG(status)) + " (14: timed out)";
    else if (WEXITSTATUS(status) != 0)
        outcome.status = "exit status " + std::to_string(WEXITSTATUS(status));
    if (!outcome.status.empty())
        return outcome;
    std::istringstream lines(report);
    lines >> outcome.code >> outcome.peakBytes;
    lines.ignore();
    std::getline(lines, outcome.problem);
    outcome.message.assign(std::istreambuf_iterator<char>(lines), {});
    return outcome;
}

// A local TCP port that counts connections; external entities must never reach it.
class Listener {
public:
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (fd_ >= 0 && ::bind(fd_, any, sizeof address) == 0 && ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, any, &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int port() const { return port_; }
    bool Contacted() const { return ::accept(fd_, nullptr, nullptr) >= 0; }

private:
    int fd_;
    int port_ = 0;
};

class HostileDocumentTest : public testing::TestWithParam<HostileRow> {};

TEST_P(HostileDocumentTest, LoadsBoundedOrFailsClearly) {
    const HostileRow& row = GetParam();
#if defined(KESTREL_ASAN)
    if (row.addressSpace != 0)
        GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
    const double slack = 3.0;  // shadow memory, redzones and the quarantine of freed blocks
    const unsigned timeout = 240;
#else
    const double slack = 1.0;
    const unsigned timeout = 600;
#endif
    const char* full = std::getenv("KESTREL_HOSTILE_FULL");
    const U size = full && *full && std::string_view(full) != "0" ? row.fullSize : row.ciSize;
    Listener listener;
    g_url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    testfiles::TempDir directory;
    const std::string path = (directory.path() / "hostile.xml").string();
    row.write(*std::make_unique<Out>(path), size);
    const U fileBytes = std::filesystem::file_size(path);
    const Outcome outcome = LoadInChild(path, row, size, timeout);
    ASSERT_EQ(outcome.status, "");
    if (row.check) {
        EXPECT_EQ(outcome.code, 0) << outcome.message;
        EXPECT_EQ(outcome.problem, "");
    } else {
        EXPECT_EQ(outcome.code, static_cast<int>(row.error));
        EXPECT_EQ(outcome.message, row.message(size));
    }
    EXPECT_LE(outcome.peakBytes, (64.0 * (1 << 20) + row.bytesPerByte * fileBytes) * slack)
        << "for a file of " << fileBytes << " bytes";
    EXPECT_FALSE(listener.Contacted()) << "the load connected to " << g_url;
}

std::function<std::string(U)> Says(std::string message) {
    return [message](U) { return message; };
}

// The document is one line: "<content>" and depth times "<a>".
std::string UnclosedNesting(U depth) {
    return "1:" + std::to_string(9 + 3 * depth + 1) +
           ": end of text inside <a>, opened at 1:" + std::to_string(9 + 3 * depth - 2);
}

// The reference in the text comes first; the document sizes are those of the UTF-8 text.
const std::string kLaughs =
    "14:71: expanding entity 'lol9' passes the entity budget (more than 8 MiB, and 100 times the ";
constexpr U MiB = 1 << 20;
constexpr auto kMalformed = kestrel::Error::Malformed;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Documents, HostileDocumentTest, testing::Values(
    HostileRow{"BillionLaughs", &BillionLaughs, 0, 0, nullptr, kMalformed, Says(kLaughs + "969 bytes of the document)"), 1},
    HostileRow{"BillionLaughsUtf16", &BillionLaughsUtf16, 0, 0, nullptr, kMalformed, Says(kLaughs + "919 bytes of the document)"), 1},
    HostileRow{"ExternalEntities", &ExternalEntities, 0, 0, nullptr, kMalformed, Says("8:73: entity 'passwd' is an external entity, which is not read"), 1},
    HostileRow{"DeepNesting", &DeepNesting, 1000000, 1000000, &CheckDepth, {}, nullptr, 200},
    HostileRow{"DeepNestingLatin1", &DeepNestingLatin1, 200000, 1000000, &CheckDepth, {}, nullptr, 200},
    HostileRow{"DeepNestingUnclosed", &DeepNestingUnclosed, 1000000, 1000000, nullptr, kMalformed, &UnclosedNesting, 200},
    HostileRow{"ManySiblings", &ManySiblings, 1000000, 10000000, &CheckChildren, {}, nullptr, 100},
    HostileRow{"ManyProperties", &ManyProperties, 200000, 10000000, &CheckProperties, {}, nullptr, 10},
    HostileRow{"ManyAttributes", &ManyAttributes, 100000, 1000000, &CheckAttributeCount, {}, nullptr, 20},
    HostileRow{"HugeCounts", &HugeCounts, 0, 0, &CheckCounts, {}, nullptr, 1},
    HostileRow{"HugeImageHeaders", &HugeImageHeaders, 0, 0, &CheckProperties, {}, nullptr, 1},  // no image is taken
    HostileRow{"BigImageBase64", &BigImage, 2048, 16384, &CheckImage, {}, nullptr, 4},
    HostileRow{"BigShapeBase64", &BigShape, 1 << 20, 1 << 26, &CheckShape, {}, nullptr, 6},
    HostileRow{"BigShapeOutOfMemory", &BigShape, 1 << 24, 1 << 26, nullptr, kestrel::Error::Internal, Says("out of memory"), 4, U{512} << 20},
    HostileRow{"BigAttributes", &BigAttributes, 8 * MiB, 100 * MiB, &CheckAttributes, {}, nullptr, 4},
    HostileRow{"UnclosedAttribute", &UnclosedAttribute, 8 * MiB, 100 * MiB, nullptr, kMalformed, Says("1:74: value of attribute 'value' is not closed"), 4}),
    [](const testing::TestParamInfo<HostileRow>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
