// What only the Windows build can show: the module DLL opened with LoadLibraryW, its library
// entry, wide and long paths, files with CR LF line ends, and the tool given non-ASCII names.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kestrel/load/Content.h"
#include "serializedContent/LongPath.h"
#include "utilities/FileSystem.h"
#include "utilities/RefCounted.h"

namespace {

namespace fs = std::filesystem;

using CreateComponent = bool (*)(const std::string&, const std::string&, void*,
                                 SmartPtr<RefCounted>&);
using Hook = void (*)();

const fs::path kBinary = fs::path(KESTREL_BINARY_DIR);
const fs::path kExamples = fs::path(KESTREL_EXAMPLES_DIR);

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A fresh directory below the temporary one, removed at the end; its wide name carries
// non-ASCII characters so that every test goes through wide paths.
class WideTempDir {
public:
    WideTempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                (L"kestrel-wîn-\u00e9\u65e5-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++counter));
        fs::create_directories(path_);
    }
    ~WideTempDir() {
        std::error_code ignored;
        fs::remove_all(FileSystem::GenerateLongFilePath(path_.wstring(), true), ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << Utf8(path);
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Canonical(const kestrel::LoadResult& loaded) {
    return loaded.tree ? kestrel::SaveText(*loaded.tree) : std::string();
}

const std::string kDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<content>\n"
    "  <kestrel_sc:part>\n"
    "    <kestrel_sc:property type=\"int32\" name=\"count\">7</kestrel_sc:property>\n"
    "    <kestrel_sc:property type=\"string\" name=\"label\" value=\"caf\xC3\xA9\"/>\n"
    "    <kestrel_sc:property type=\"dvec3\" name=\"axis\">0 0 1</kestrel_sc:property>\n"
    "  </kestrel_sc:part>\n"
    "</content>\n";

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// ---- the module DLL as a host opens it ----

// A copy of the DLL is a separate library, loaded and freed three times: LoadLibraryW finds its
// plain C entry points; its entry answers the process attach, thread starts and ends meanwhile,
// and the detach on FreeLibrary; the name tables are built and torn down with it, each time.
TEST(WindowsModuleTest, EntryPointsAndReloads) {
    WideTempDir dir;
    const fs::path copy =
        kBinary / (L"sc-copy-" + std::to_wstring(GetCurrentProcessId()) + L".dll");
    fs::copy_file(kBinary / L"serializedContent.dll", copy, fs::copy_options::overwrite_existing);
    WriteBytes(dir.path() / L"doc.xml", kDocument);
    for (int round = 0; round < 3; ++round) {
        HMODULE module = LoadLibraryW(copy.c_str());
        ASSERT_NE(module, nullptr) << "round " << round << ", error " << GetLastError();
        // With thread notifications off nothing of the module runs for threads, and nothing
        // breaks.
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([] { Sleep(1); });
        for (std::thread& thread : threads)
            thread.join();
        auto create = reinterpret_cast<CreateComponent>(
            reinterpret_cast<void*>(GetProcAddress(module, "OrbDllCreateComponent")));
        auto init =
            reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(module, "OrbDllInit")));
        auto terminate = reinterpret_cast<Hook>(
            reinterpret_cast<void*>(GetProcAddress(module, "OrbDllTerminate")));
        ASSERT_NE(create, nullptr);
        ASSERT_NE(init, nullptr);
        ASSERT_NE(terminate, nullptr);
        init();
        SmartPtr<RefCounted> component;
        EXPECT_FALSE(create("Loader", "serializedcontent", nullptr, component));
        EXPECT_FALSE(create("loader", "serializedcontent ", nullptr, component));
        EXPECT_EQ(component.get(), nullptr);
        EXPECT_TRUE(create("loader", "serializedcontent", nullptr, component));
        EXPECT_NE(component.get(), nullptr);
        component = nullptr;
        terminate();
        kestrel::LoadOptions options;
        options.modulePath = Utf8(kBinary / L"serializedContent.dll");
        kestrel::LoadResult loaded = kestrel::Load(Utf8(dir.path() / L"doc.xml"), options);
        EXPECT_TRUE(loaded) << loaded.error.description();
        EXPECT_TRUE(FreeLibrary(module));
    }
    std::error_code ignored;
    fs::remove(copy, ignored);
}

// ---- files through wide, long and CR LF paths ----

// CR LF line ends, a non-ASCII name and a directory longer than 260 characters (made through the
// long form) all load to the tree of the plain file.
TEST(WindowsFileTest, CrLfNonAsciiAndLongPathsLoadAsThePlainFile) {
    WideTempDir dir;
    WriteBytes(dir.path() / L"lf.xml", kDocument);
    kestrel::LoadResult plain = kestrel::Load(Utf8(dir.path() / L"lf.xml"));
    ASSERT_TRUE(plain) << plain.error.description();
    EXPECT_NE(Canonical(plain).find("caf\xC3\xA9"), std::string::npos);
    std::wstring deep = dir.path().wstring();
    while (deep.size() < 300)
        deep += L"\\segment-\u00e9-0123456789";
    const std::wstring longForm = FileSystem::GenerateLongFilePath(deep, true);
    ASSERT_EQ(longForm.rfind(L"\\\\?\\", 0), 0u);
    fs::create_directories(fs::path(longForm));
    const struct {
        fs::path written, loaded;
        std::string bytes;
    } files[] = {
        {dir.path() / L"crlf.xml", dir.path() / L"crlf.xml", WithCrLf(kDocument)},
        {dir.path() / L"d\u00f6cument-\u00fc\u00df-\u65e5\u672c-\u0416.xml",
         dir.path() / L"d\u00f6cument-\u00fc\u00df-\u65e5\u672c-\u0416.xml", kDocument},
        {fs::path(longForm + L"\\long.xml"), fs::path(deep + L"\\long.xml"), kDocument},
    };
    for (const auto& file : files) {
        WriteBytes(file.written, file.bytes);
        kestrel::LoadResult loaded = kestrel::Load(Utf8(file.loaded));
        ASSERT_TRUE(loaded) << Utf8(file.loaded) << ": " << loaded.error.description();
        EXPECT_EQ(Canonical(loaded), Canonical(plain)) << Utf8(file.loaded);
    }
}

// Every value kind: single properties and arrays, shapes, images; saved under a non-ASCII name
// and loaded back through the module.
TEST(WindowsFileTest, EveryValueKindRoundTrips) {
    WideTempDir dir;
    for (const char* name : {"properties.xml", "meshes.xml", "images.xml", "assembly.xml"}) {
        kestrel::LoadResult first = kestrel::Load(Utf8(kExamples / name));
        ASSERT_TRUE(first) << name << ": " << first.error.description();
        const fs::path copy = dir.path() / (L"r\u00fcckweg-" + fs::path(name).wstring());
        const kestrel::Error saved = kestrel::Save(*first.tree, Utf8(copy));
        ASSERT_FALSE(saved) << name << ": " << saved.description();
        kestrel::LoadResult second = kestrel::Load(Utf8(copy));
        ASSERT_TRUE(second) << name << ": " << second.error.description();
        EXPECT_EQ(Canonical(second), Canonical(first)) << name;
    }
}

// ---- the long-path rule and the path helpers ----

TEST(WindowsPathTest, LongPathRuleAt255And256Characters) {
    const std::wstring base = L"C:\\data\\";
    const std::wstring at255 = base + std::wstring(255 - base.size() - 4, L'a') + L".xml";
    const std::wstring at256 = base + std::wstring(256 - base.size() - 4, L'a') + L".xml";
    ASSERT_EQ(at255.size(), 255u);
    ASSERT_EQ(at256.size(), 256u);
    EXPECT_EQ(serializedContent::PathForOpening(at255), at255);
    EXPECT_EQ(serializedContent::PathForOpening(at256), L"\\\\?\\" + at256);
    const std::wstring prefixed = L"\\\\?\\C:\\" + std::wstring(293, L'b');
    ASSERT_EQ(prefixed.size(), 300u);
    EXPECT_EQ(serializedContent::PathForOpening(prefixed), prefixed);
}

TEST(WindowsPathTest, GenerateLongFilePathGivesTheWindowsForm) {
    EXPECT_EQ(FileSystem::s_longPathPrefixW, L"\\\\?\\");
    EXPECT_EQ(FileSystem::GenerateLongFilePath(L"C:/data/./sub/../file.xml", true),
              L"\\\\?\\C:\\data\\file.xml");
    EXPECT_EQ(FileSystem::GenerateLongFilePath(L"\\\\server\\share\\f.xml", true),
              L"\\\\?\\UNC\\server\\share\\f.xml");
    EXPECT_EQ(FileSystem::GenerateLongFilePath(L"", true), L"");
    const std::wstring relative = FileSystem::GenerateLongFilePath(L"x\\y.xml", true);
    EXPECT_EQ(relative.rfind(L"\\\\?\\", 0), 0u) << Utf8(fs::path(relative));
    EXPECT_TRUE(relative.ends_with(L"\\x\\y.xml"));
}

TEST(WindowsPathTest, Utf8ToWideStrGivesUtf16) {
    EXPECT_EQ(Utf8ToWideStr(Symbol("abc")), L"abc");
    EXPECT_EQ(Utf8ToWideStr(Symbol("caf\xC3\xA9")), L"caf\u00e9");
    EXPECT_EQ(Utf8ToWideStr(Symbol("\xE6\x97\xA5")), L"\u65e5");
    // Outside the basic plane: a surrogate pair.
    const std::wstring clef = Utf8ToWideStr(Symbol("\xF0\x9D\x84\x9E"));
    ASSERT_EQ(clef.size(), 2u);
    EXPECT_EQ(clef[0], static_cast<wchar_t>(0xD834));
    EXPECT_EQ(clef[1], static_cast<wchar_t>(0xDD1E));
    EXPECT_EQ(Utf8ToWideStr(Symbol("\xFF")), L"\uFFFD");
    EXPECT_EQ(WideToUtf8Str(clef), "\xF0\x9D\x84\x9E");
}

// ---- the tool ----

struct ToolRun {
    DWORD status = 0xFFFFFFFF;
    std::string out;
};

std::wstring Quote(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"')
                quoted.append(slashes + 1, L'\\');
            slashes = 0;
        }
        quoted += c;
    }
    quoted.append(slashes, L'\\');
    return quoted + L"\"";
}

// Runs kestrel-sc.exe with wide arguments, its standard output into a file.
ToolRun RunTool(const std::vector<std::wstring>& arguments, const fs::path& scratch) {
    ToolRun run;
    std::wstring command = Quote((kBinary / L"kestrel-sc.exe").wstring());
    for (const std::wstring& argument : arguments)
        command += L" " + Quote(argument);
    const fs::path outPath = scratch / L"tool-out.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &run.status);
        else
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    run.out = ReadBytes(outPath);
    return run;
}

TEST(WindowsToolTest, TakesNonAsciiPathsForInputAndOutput) {
    WideTempDir dir;
    const fs::path input = dir.path() / L"\u00e9l\u00e9ment-\u65e5\u672c.xml";
    const fs::path output = dir.path() / L"sortie-\u00fc-\u0416.json";
    WriteBytes(input, kDocument);

    ToolRun tree = RunTool({L"tree", input.wstring()}, dir.path());
    EXPECT_EQ(tree.status, 0u) << tree.out;
    EXPECT_EQ(tree.out.rfind("figure\n", 0), 0u) << tree.out;  // LF, not CR LF
    EXPECT_NE(tree.out.find("caf\xC3\xA9"), std::string::npos) << tree.out;

    ToolRun cat =
        RunTool({L"cat", input.wstring(), L"--to", L"json", L"-o", output.wstring()}, dir.path());
    EXPECT_EQ(cat.status, 0u) << cat.out;
    EXPECT_NE(ReadBytes(output).find("\"count\""), std::string::npos);

    ToolRun back = RunTool({L"diff", input.wstring(), output.wstring()}, dir.path());
    EXPECT_EQ(back.status, 0u) << back.out;

    ToolRun missing = RunTool({L"tree", (dir.path() / L"n\u00e9ant.xml").wstring()}, dir.path());
    EXPECT_EQ(missing.status, 1u) << missing.out;
}

}  // namespace
