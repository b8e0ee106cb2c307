// Documents built to hurt a loader: entity bombs, external entities, extreme nesting and width,
// counts that promise billions of records, gigabyte payloads and giant attribute values. Each is
// written to a file and loaded through the module in a child process, which reports the outcome
// and its peak memory; the test asserts the outcome and bounds the memory.
//
// The default run uses scaled-down sizes. KESTREL_HOSTILE_FULL=1 uses the full sizes (1 GB
// payloads, 10,000,000 siblings), meant for a Release build: tests/reliability/run-hostile-full.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
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

bool FullSizes() {
    const char* full = std::getenv("KESTREL_HOSTILE_FULL");
    return full && *full && std::string_view(full) != "0";
}

// Buffered output of large generated files.
class Out {
public:
    explicit Out(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (file_)
            std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~Out() {
        if (file_)
            std::fclose(file_);
    }
    bool ok() const { return file_ != nullptr; }
    Out& operator<<(std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), file_);
        return *this;
    }
    // text, count times.
    void Repeat(std::string_view text, std::uint64_t count) {
        std::string block;
        const std::uint64_t perBlock = std::max<std::uint64_t>(1, (1u << 20) / text.size());
        for (std::uint64_t i = 0; i < std::min(perBlock, count); ++i)
            block += text;
        while (count > 0) {
            const std::uint64_t now = std::min(perBlock, count);
            std::fwrite(block.data(), 1, now * text.size(), file_);
            count -= now;
        }
    }

private:
    std::FILE* file_;
};

// ---- documents ----

// A DOCTYPE declaring entities that expand to 10^9 copies of "lol", used in element text and
// (but in UTF-16) an attribute: the entity budget stops the expansion once it passes 8 MiB.
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
    text +=
        "]>\n<content><kestrel_sc:e>"
        "<kestrel_sc:property type=\"string\" name=\"text\">&lol9;</kestrel_sc:property>";
    if (!utf16)
        text += "<kestrel_sc:property type=\"string\" name=\"attribute\" value=\"&lol9;\"/>";
    return text + "</kestrel_sc:e></content>\n";
}

void BillionLaughs(Out& out, std::uint64_t) {
    out << Laughs(false);
}

// The same bomb as UTF-16: converted to UTF-8 first, then read the same way.
void BillionLaughsUtf16(Out& out, std::uint64_t) {
    std::string utf16 = "\xFF\xFE";
    for (char c : Laughs(true))
        utf16 += {c, '\0'};
    out << utf16;
}

// External entities and an external DTD naming a local file and a URL on a port the test
// listens on: nothing may be read or fetched; the reference in text is refused as not read.
std::string g_listenUrl;

void ExternalEntities(Out& out, std::uint64_t) {
    out << "<?xml version=\"1.0\"?>\n<!DOCTYPE content SYSTEM \"" << g_listenUrl
        << "dtd\" [\n  <!ENTITY passwd SYSTEM \"file:///etc/passwd\">\n"
           "  <!ENTITY web SYSTEM \""
        << g_listenUrl
        << "entity\">\n"
           "  <!ENTITY % remote SYSTEM \""
        << g_listenUrl << "parameter\">\n  %remote;\n]>\n"
        << "<content><kestrel_sc:e>"
           "<kestrel_sc:property type=\"string\" name=\"passwd\">&passwd;</kestrel_sc:property>"
           "<kestrel_sc:property type=\"string\" name=\"web\" value=\"&web;\"/>"
           "</kestrel_sc:e></content>\n";
}

// depth nested content elements, closed again.
void DeepNesting(Out& out, std::uint64_t depth) {
    out << "<content>";
    out.Repeat("<a>", depth);
    out.Repeat("</a>", depth);
    out << "</content>\n";
}

// The same in Latin-1, which the converting parser reads.
void DeepNestingLatin1(Out& out, std::uint64_t depth) {
    out << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
    DeepNesting(out, depth);
}

// depth nested content elements that are never closed.
void DeepNestingUnclosed(Out& out, std::uint64_t depth) {
    out << "<content>";
    out.Repeat("<a>", depth);
}

// count sibling content elements below one element.
void ManySiblings(Out& out, std::uint64_t count) {
    out << "<content><kestrel_sc:list>";
    out.Repeat("<b/>", count);
    out << "</kestrel_sc:list></content>\n";
}

// One property element carrying count attributes besides its own.
void ManyAttributes(Out& out, std::uint64_t count) {
    out << "<content><kestrel_sc:e><kestrel_sc:property type=\"int32\" name=\"n\"";
    for (std::uint64_t i = 0; i < count; ++i)
        out << " a" << std::to_string(i) << "=\"1\"";
    out << ">7</kestrel_sc:property></kestrel_sc:e></content>\n";
}

// count sibling property elements below one element.
void ManyProperties(Out& out, std::uint64_t count) {
    out << "<content><kestrel_sc:list>";
    out.Repeat("<kestrel_sc:property type=\"int32\" name=\"n\">7</kestrel_sc:property>", count);
    out << "</kestrel_sc:list></content>\n";
}

std::string Record(float x, float y, float z) {
    const float values[] = {x, y, z};
    return Base64::Encode(values, sizeof values);
}
std::string Triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    const std::uint32_t values[] = {a, b, c};
    return Base64::Encode(values, sizeof values);
}

// Counts of 4294967295 in front of one value, one vertex and one triangle.
void HugeCounts(Out& out, std::uint64_t) {
    out << "<content><kestrel_sc:e>"
           "<kestrel_sc:property_array type=\"uint32\" name=\"array\" count=\"4294967295\">"
           "<kestrel_sc:property>5</kestrel_sc:property></kestrel_sc:property_array>"
           "<kestrel_sc:property type=\"shape\" name=\"mesh\">"
           "<vertices count=\"4294967295\" vertices=\"base64\">"
        << Record(1, 2, 3) << "</vertices><triangles count=\"4294967295\" triangles=\"base64\">"
        << Triangle(0, 0, 0)
        << "</triangles></kestrel_sc:property>"
           "<kestrel_sc:property type=\"shape\" name=\"signed\">"
           "<vertices count=\"-1\">"
        << Record(4, 5, 6) << "</vertices><triangles count=\"99999999999999999999\">"
        << Triangle(0, 0, 0) << "</triangles></kestrel_sc:property></kestrel_sc:e></content>\n";
}

std::string Le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}
std::string Le16(std::uint16_t value) {
    return Le32(value).substr(0, 2);
}

// A 54-byte header of a 24-bit BI_RGB BMP file of width x height.
std::string BmpHeader(std::uint32_t width, std::uint32_t height, std::uint64_t pixelBytes) {
    std::string header = "BM" + Le32(static_cast<std::uint32_t>(54 + pixelBytes)) + Le32(0) +
                         Le32(54) + Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(24) +
                         Le32(0) + Le32(static_cast<std::uint32_t>(pixelBytes)) + Le32(2835) +
                         Le32(2835) + Le32(0) + Le32(0);
    return header;
}

// Images whose headers promise the largest pictures the reader takes, with a few bytes of pixels.
void HugeImageHeaders(Out& out, std::uint64_t) {
    out << "<content><kestrel_sc:e>";
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {16384, 16384}, {65535, 4096}, {65535, 65535}, {4294967295u, 1}};
    for (auto [width, height] : sizes) {
        const std::string bytes =
            BmpHeader(width, height, std::uint64_t{width} * height * 3) + std::string(12, '\x7f');
        out << "<kestrel_sc:property type=\"image\" name=\"" << std::to_string(width) << "x"
            << std::to_string(height) << "\" format=\"bmp\">"
            << Base64::Encode(bytes.data(), bytes.size()) << "</kestrel_sc:property>";
    }
    out << "</kestrel_sc:e></content>\n";
}

// A 24-bit square image of side x side pixels: a Base64 text of 4 x side^2 characters (1 GiB for
// 16384, the largest image the reader takes), every pixel the same.
void BigImage(Out& out, std::uint64_t side) {
    const std::string header = BmpHeader(static_cast<std::uint32_t>(side),
                                         static_cast<std::uint32_t>(side), side * side * 3);
    out << "<content><kestrel_sc:e><kestrel_sc:property type=\"image\" name=\"big\" "
           "format=\"bmp\">"
        << Base64::Encode(header.data(), header.size());
    out.Repeat(Base64::Encode("\x10\x20\x30", 3), side * side);  // 3 bytes, 4 characters a pixel
    out << "</kestrel_sc:property></kestrel_sc:e></content>\n";
}

// A shape of vertices records (16 Base64 characters each: 1 GiB for 2^26) and one triangle.
void BigShape(Out& out, std::uint64_t vertices) {
    out << "<content><kestrel_sc:e><kestrel_sc:property type=\"shape\" name=\"big\">"
           "<vertices count=\""
        << std::to_string(vertices) << "\" vertices=\"base64\">";
    out.Repeat(Record(1, 2, 3), vertices);
    out << "</vertices><triangles count=\"1\" triangles=\"base64\">" << Triangle(0, 1, 2)
        << "</triangles></kestrel_sc:property></kestrel_sc:e></content>\n";
}

// Attribute values of bytes bytes: a property name, a plain string value and one made of "&amp;".
void BigAttributes(Out& out, std::uint64_t bytes) {
    out << "<content><kestrel_sc:e><kestrel_sc:property type=\"string\" name=\"";
    out.Repeat("n", bytes);
    out << "\" value=\"short\"/><kestrel_sc:property type=\"string\" name=\"plain\" value=\"";
    out.Repeat("v", bytes);
    out << "\"/><kestrel_sc:property type=\"string\" name=\"escaped\" value=\"";
    out.Repeat("&amp;", bytes / 5);
    out << "\"/></kestrel_sc:e></content>\n";
}

// An attribute value of bytes bytes that is never closed.
void UnclosedAttribute(Out& out, std::uint64_t bytes) {
    out << "<content><kestrel_sc:e><kestrel_sc:property type=\"string\" name=\"s\" value=\"";
    out.Repeat("v", bytes);
    out << "/></kestrel_sc:e></content>\n";
}

// ---- checks of loaded trees: "" when the tree is as expected ----

template <class T>
const T* Value(const SerializedContentElement* element, const char* name) {
    if (!element)
        return nullptr;
    const SerializedContentElement::Property* property = element->FindProperty(Symbol(name));
    return property ? std::get_if<T>(&property->value) : nullptr;
}

std::string StringIs(const SerializedContentElement* element, const char* name,
                     std::string_view expected) {
    const Symbol* value = Value<Symbol>(element, name);
    if (!value)
        return std::string("no string property ") + name;
    if (value->view() != expected) {
        return std::string("property ") + name + " is '" +
               std::string(value->view().substr(0, 60)) + "'";
    }
    return "";
}

std::string CheckDepth(const Tree& tree, std::uint64_t depth) {
    const SerializedContentElement* at = &tree;
    for (std::uint64_t level = 0; level < depth; ++level) {
        if (at->GetChildCount() != 1)
            return "level " + std::to_string(level) + " has " +
                   std::to_string(at->GetChildCount()) + " children";
        at = at->GetChild(0);
    }
    return at->GetChildCount() == 0 ? "" : "deeper than the document";
}

// The content element holds depth - 1 levels below it.
std::string CheckNesting(const Tree& tree, std::uint64_t depth) {
    return CheckDepth(*tree.GetChild(0), depth - 1);
}

std::string CheckSiblings(const Tree& tree, std::uint64_t count) {
    const SerializedContentElement* list = tree.GetChild(0);
    if (!list || list->GetChildCount() != count)
        return "not " + std::to_string(count) + " children";
    return "";
}

std::string CheckAttributeCount(const Tree& tree, std::uint64_t) {
    const std::int32_t* value = Value<std::int32_t>(tree.GetChild(0), "n");
    return value && *value == 7 ? "" : "property n is not 7";
}

std::string CheckProperties(const Tree& tree, std::uint64_t count) {
    const SerializedContentElement* list = tree.GetChild(0);
    if (!list || list->GetProperties().size() != count)
        return "not " + std::to_string(count) + " properties";
    return "";
}

std::string MeshIs(const SerializedContentElement* element, const char* name,
                   const std::vector<float>& positions, std::size_t triangles) {
    const SmartPtr<Shape>* shape = Value<SmartPtr<Shape>>(element, name);
    if (!shape || !*shape)
        return std::string("no shape ") + name;
    MeshData mesh = ExtractMesh(**shape);
    if (mesh.positions.size() != positions.size() ||
        !std::equal(positions.begin(), positions.end(), mesh.positions.begin()) ||
        mesh.indices.size() != 3 * triangles) {
        return std::string("shape ") + name + " has " + std::to_string(mesh.positions.size() / 3) +
               " vertices and " + std::to_string(mesh.indices.size() / 3) + " triangles";
    }
    return "";
}

std::string CheckCounts(const Tree& tree, std::uint64_t) {
    const SerializedContentElement* e = tree.GetChild(0);
    const auto* array = Value<std::vector<std::uint32_t>>(e, "array");
    if (!array || *array != std::vector<std::uint32_t>{5})
        return "array is not {5}";
    std::string problem = MeshIs(e, "mesh", {1, 2, 3}, 1);
    // "-1" is 4294967295 as well; a count beyond 32 bits reads as 0: no triangles.
    return problem.empty() ? MeshIs(e, "signed", {4, 5, 6}, 0) : problem;
}

std::string CheckNoImages(const Tree& tree, std::uint64_t) {
    const SerializedContentElement* e = tree.GetChild(0);
    if (!e)
        return "no element";
    return e->GetProperties().empty()
               ? ""
               : std::to_string(e->GetProperties().size()) + " images were taken";
}

std::string CheckImage(const Tree& tree, std::uint64_t side) {
    const SmartPtr<Image>* image = Value<SmartPtr<Image>>(tree.GetChild(0), "big");
    if (!image || !*image)
        return "no image";
    if ((*image)->GetWidth() != side || (*image)->GetHeight() != side ||
        (*image)->GetFormat() != PixelFormat::RGB8)
        return "image of another size";
    const std::uint8_t* pixels = (*image)->GetPixels();
    const std::size_t last = (*image)->GetPixelBytes() - 3;
    // BMP stores blue, green, red.
    if (pixels[0] != 0x30 || pixels[1] != 0x20 || pixels[2] != 0x10 || pixels[last] != 0x30)
        return "wrong pixels";
    return "";
}

std::string CheckShape(const Tree& tree, std::uint64_t vertices) {
    const SmartPtr<Shape>* shape = Value<SmartPtr<Shape>>(tree.GetChild(0), "big");
    if (!shape || !*shape)
        return "no shape";
    MeshData mesh = ExtractMesh(**shape);
    if (mesh.positions.size() != 3 * vertices || mesh.indices.size() != 3)
        return "shape of " + std::to_string(mesh.positions.size() / 3) + " vertices";
    if (mesh.positions[3 * vertices - 1] != 3)
        return "wrong positions";
    return "";
}

std::string CheckAttributes(const Tree& tree, std::uint64_t bytes) {
    const SerializedContentElement* e = tree.GetChild(0);
    if (!e || e->GetProperties().size() != 3)
        return "not three properties";
    const auto& named = e->GetProperties()[0];
    if (named.name.length() != bytes ||
        named.name.view().find_first_not_of('n') != std::string::npos)
        return "long name changed";
    std::string problem = StringIs(e, "plain", std::string(bytes, 'v'));
    return problem.empty() ? StringIs(e, "escaped", std::string(bytes / 5, '&')) : problem;
}

// ---- the table ----

struct HostileRow {
    const char* name;
    void (*write)(Out&, std::uint64_t);
    std::uint64_t ciSize;    // the size parameter in the default run
    std::uint64_t fullSize;  // with KESTREL_HOSTILE_FULL
    // For a document that must load: checks the tree. Null when it must fail.
    std::function<std::string(const Tree&, std::uint64_t)> check;
    kestrel::Error::Code error;                              // when it must fail
    std::function<std::string(std::uint64_t size)> message;  // the exact one, "line:column: ..."
    // Peak memory of the load may be at most this many bytes per byte of the file, plus 64 MiB.
    double bytesPerByte;
    // When not 0, the load runs with this much address space (not under ASan, which reserves
    // terabytes of it) and must fail cleanly for want of memory.
    std::uint64_t addressSpace = 0;
};

// What the child process reports about one load.
struct Outcome {
    bool finished = false;  // false: crashed, killed or hung
    std::string status;     // exit status or signal when not finished
    int code = 0;
    std::string message;
    std::string problem;  // from the row's check
    std::uint64_t peakBytes = 0;
};

std::uint64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::strtoull(line.c_str() + length + 1, nullptr, 10);
    }
    return 0;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// Loads path in a child process and reports what happened.
Outcome LoadInChild(const std::string& path, const HostileRow& row, std::uint64_t size,
                    int timeoutSeconds) {
    Outcome outcome;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        outcome.status = "no pipe";
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (row.addressSpace != 0) {
            const rlimit limit{row.addressSpace, row.addressSpace};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        // The peak from here on is the load's: reset the high-water mark to the current size.
        { std::ofstream("/proc/self/clear_refs") << "5"; }
        const std::uint64_t before = StatusKiB("VmRSS");
        std::string report;
        {
            kestrel::LoadOptions options;
            options.modulePath = std::string(KESTREL_LIBRARY_DIR) + "/libserializedContent.so";
            kestrel::LoadResult result = kestrel::Load(path, options);
            const std::uint64_t peak = StatusKiB("VmHWM");  // before the check copies anything
            std::string problem;
            if (result && row.check)
                problem = row.check(*result.tree, size);
            report = std::to_string(static_cast<int>(result.error.code)) + "\n" +
                     std::to_string((peak > before ? peak - before : 0) * 1024) + "\n" + problem +
                     "\n" +
                     (result.error.line ? std::to_string(result.error.line) + ":" +
                                              std::to_string(result.error.column) + ": "
                                        : std::string()) +
                     result.error.message;
        }  // the tree is freed here: freeing must not crash either
        WriteAll(pipeFds[1], report);
        ::close(pipeFds[1]);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            ::kill(child, SIGKILL);
            outcome.status = "no result within " + std::to_string(timeoutSeconds) + " s";
            break;
        }
        pollfd poller{pipeFds[0], POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(std::min<long long>(left, 1000))) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status) && outcome.status.empty())
        outcome.status = "killed by signal " + std::to_string(WTERMSIG(status));
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && outcome.status.empty())
        outcome.status = "exit status " + std::to_string(WEXITSTATUS(status));
    if (!outcome.status.empty())
        return outcome;
    // code, peak, problem, message (the rest).
    std::istringstream lines(report);
    lines >> outcome.code >> outcome.peakBytes;
    lines.ignore();
    std::getline(lines, outcome.problem);
    outcome.message.assign(std::istreambuf_iterator<char>(lines), {});
    outcome.finished = true;
    return outcome;
}

// A local TCP port that counts connections; external entities must never reach it.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int port() const { return port_; }
    // Whether anything has connected so far.
    bool Contacted() const { return ::accept(fd_, nullptr, nullptr) >= 0; }

private:
    int fd_ = -1;
    int port_ = 0;
};

class HostileDocumentTest : public testing::TestWithParam<HostileRow> {};

TEST_P(HostileDocumentTest, LoadsBoundedOrFailsClearly) {
    const HostileRow& row = GetParam();
#if defined(KESTREL_ASAN)
    if (row.addressSpace != 0)
        GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#endif
    const bool full = FullSizes();
    const std::uint64_t size = full ? row.fullSize : row.ciSize;
    Listener listener;
    g_listenUrl = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    testfiles::TempDir directory;
    const std::string path = (directory.path() / "hostile.xml").string();
    {
        Out out(path);
        ASSERT_TRUE(out.ok());
        row.write(out, size);
    }
    const std::uint64_t fileBytes = std::filesystem::file_size(path);
#if defined(KESTREL_ASAN)
    // Shadow memory, redzones and the allocator's quarantine of freed blocks.
    const double slack = 3.0;
    const int timeout = 240;
#else
    const double slack = 1.0;
    const int timeout = 600;
#endif
    const Outcome outcome = LoadInChild(path, row, size, timeout);
    ASSERT_TRUE(outcome.finished) << row.name << ": " << outcome.status;
    if (row.check) {
        EXPECT_EQ(outcome.code, 0) << outcome.message;
        EXPECT_EQ(outcome.problem, "");
    } else {
        EXPECT_EQ(outcome.code, static_cast<int>(row.error));
        EXPECT_EQ(outcome.message, row.message(size));
    }
    const double bound =
        (64.0 * (1 << 20) + row.bytesPerByte * static_cast<double>(fileBytes)) * slack;
    EXPECT_LE(static_cast<double>(outcome.peakBytes), bound)
        << "peak " << outcome.peakBytes << " bytes for a file of " << fileBytes;
    EXPECT_FALSE(listener.Contacted()) << "the load connected to " << g_listenUrl;
}

constexpr std::uint64_t MiB = 1 << 20;

// A failure's message whatever the size.
std::function<std::string(std::uint64_t)> Says(std::string message) {
    return [message](std::uint64_t) { return message; };
}

// The document is one line: "<content>" and depth times "<a>".
std::string UnclosedNestingMessage(std::uint64_t depth) {
    return "1:" + std::to_string(9 + 3 * depth + 1) +
           ": end of text inside <a>, opened at 1:" + std::to_string(9 + 3 * depth - 2);
}

// The reference in the text comes first; the document sizes are those of the UTF-8 text.
const std::string kLaughs =
    "14:71: expanding entity 'lol9' passes the entity budget (more than 8 MiB, and 100 times the ";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Documents, HostileDocumentTest, testing::Values(
    HostileRow{"BillionLaughs", &BillionLaughs, 0, 0, nullptr, kestrel::Error::Malformed, Says(kLaughs + "969 bytes of the document)"), 1},
    HostileRow{"BillionLaughsUtf16", &BillionLaughsUtf16, 0, 0, nullptr, kestrel::Error::Malformed, Says(kLaughs + "919 bytes of the document)"), 1},
    HostileRow{"ExternalEntities", &ExternalEntities, 0, 0, nullptr, kestrel::Error::Malformed, Says("8:73: entity 'passwd' is an external entity, which is not read"), 1},
    HostileRow{"DeepNesting", &DeepNesting, 1000000, 1000000, &CheckNesting, {}, nullptr, 200},
    HostileRow{"DeepNestingLatin1", &DeepNestingLatin1, 200000, 1000000, &CheckNesting, {}, nullptr, 200},
    HostileRow{"DeepNestingUnclosed", &DeepNestingUnclosed, 1000000, 1000000, nullptr, kestrel::Error::Malformed, &UnclosedNestingMessage, 200},
    HostileRow{"ManySiblings", &ManySiblings, 1000000, 10000000, &CheckSiblings, {}, nullptr, 100},
    HostileRow{"ManyProperties", &ManyProperties, 200000, 10000000, &CheckProperties, {}, nullptr, 10},
    HostileRow{"ManyAttributes", &ManyAttributes, 100000, 1000000, &CheckAttributeCount, {}, nullptr, 20},
    HostileRow{"HugeCounts", &HugeCounts, 0, 0, &CheckCounts, {}, nullptr, 1},
    HostileRow{"HugeImageHeaders", &HugeImageHeaders, 0, 0, &CheckNoImages, {}, nullptr, 1},
    HostileRow{"BigImageBase64", &BigImage, 2048, 16384, &CheckImage, {}, nullptr, 4},
    HostileRow{"BigShapeBase64", &BigShape, 1 << 20, 1 << 26, &CheckShape, {}, nullptr, 6},
    HostileRow{"BigShapeOutOfMemory", &BigShape, 1 << 24, 1 << 26, nullptr, kestrel::Error::Internal, Says("out of memory"), 4, std::uint64_t{512} << 20},
    HostileRow{"BigAttributes", &BigAttributes, 8 * MiB, 100 * MiB, &CheckAttributes, {}, nullptr, 4},
    HostileRow{"UnclosedAttribute", &UnclosedAttribute, 8 * MiB, 100 * MiB, nullptr, kestrel::Error::Malformed, Says("1:74: value of attribute 'value' is not closed"), 4}),
    [](const testing::TestParamInfo<HostileRow>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
