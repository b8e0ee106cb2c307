// Loading and writing content documents: the module (through the loader component, as the tool
// does, and step by step), pugixml and libxml2 on the same text, and cereal and Boost doing the
// same job on a plain struct tree that mirrors the content. Every case of a document runs on the
// same bytes in the same run, so the ratios hold even where absolute numbers drift.
//
// Documents are generated (kinds x sizes x seed) into a cache directory, which bench/run fills
// with kestrel-gen beforehand; missing ones are generated here the same way.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "DocumentGenerator.h"
#include "Mirror.h"
#include "ModuleLoad.h"
#include "geometry/MeshBuilder.h"
#include "geometry/XmlElem.h"
#include "kernel/SerializedContentVisitor.h"
#include "kestrel/load/Content.h"
#include "serializedContent/xmlwriter/XmlParser.h"
#include "serializedContent/xmlwriter/XmlWriter.h"
#include "utilities/LargeBuffer.h"

namespace {

using kestrelbench::DocumentKind;

struct Document {
    DocumentKind kind;
    std::uint64_t size;  // asked for; the file is about as long
    std::string path;
    std::string label;  // "property/4MB"
};

std::optional<kestrelbench::ModuleLoader> module;

// The root kestrel::SaveText hands to the writer, namespace declaration included.
XmlElem* NewWrittenRoot() {
    XmlElem* root = NewXmlElem(Symbol("kestrel_sc:figure"), false);
    root->SetAttribute(Symbol(kestrel::kNamespaceAttribute), kestrel::kNamespaceName);
    return root;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return text;
    text.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(text.data(), size);
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// What the cases of the current document share, made when first asked for and dropped when the
// next document comes (cases run in registration order, one document after the other).
class Workspace {
public:
    ~Workspace() { Clear(); }

    // Switches to document; false with error set when it cannot be loaded.
    bool Use(const Document& document, std::string& error) {
        if (current_ == &document) {
            error = error_;
            return error_.empty();
        }
        Clear();
        current_ = &document;
        text = ReadFile(document.path);
        if (text.empty()) {
            error = error_ = document.path + ": cannot be read";
            return false;
        }
        tree = module->Load(document.path, error_);
        if (!tree) {
            error = error_;
            return false;
        }
        for (std::vector<const SerializedContentElement*> pending{tree.get()}; !pending.empty();) {
            const SerializedContentElement* element = pending.back();
            pending.pop_back();
            for (const auto& property : element->GetProperties()) {
                if (const auto* shape = std::get_if<SmartPtr<Shape>>(&property.value);
                    shape && *shape)
                    triangles += ExtractMesh(**shape).indices.size() / 3;
            }
            for (std::size_t i = 0; i < element->GetChildCount(); ++i)
                pending.push_back(element->GetChild(i));
        }
        return true;
    }

    // The text parsed by ParseXml, for the walk.
    const XmlElem& Parsed() {
        if (!parsed_)
            parsed_ = ParseXml(text, false, nullptr);
        return *parsed_;
    }
    // The element tree the writer makes of the content tree, for WriteXml.
    const XmlElem& Written() {
        if (!written_) {
            written_ = NewWrittenRoot();
            serializedContent::XmlWriter writer(written_);
            WalkContent(*tree, writer, WalkTop::ContentsOnly);
        }
        return *written_;
    }
    // The text with the kestrel_sc prefix declared on the root element, which spares libxml2
    // an error report for every element. Files written by Save declare it already (a second
    // declaration would make the text not well-formed); older ones get it here.
    const std::string& DeclaredText() {
        if (!declared_) {
            declared_ = text;
            std::size_t start = 0;
            while ((start = declared_->find('<', start)) != std::string::npos &&
                   (declared_->compare(start, 2, "<?") == 0 ||
                    declared_->compare(start, 2, "<!") == 0)) {
                ++start;
            }
            if (start != std::string::npos) {
                const std::size_t end = declared_->find_first_of(" \t\r\n/>", start);
                const std::size_t close = declared_->find('>', start);
                const std::string attribute = std::string(kestrel::kNamespaceAttribute) + "=";
                if (declared_->substr(start, close - start).find(attribute) == std::string::npos)
                    declared_->insert(end, " " + attribute + "\"" + kestrel::kNamespaceName + "\"");
            }
        }
        return *declared_;
    }
    const pugi::xml_document& Dom() {
        if (!dom_) {
            dom_ = std::make_unique<pugi::xml_document>();
            dom_->load_buffer(text.data(), text.size());
        }
        return *dom_;
    }
    const mirror::Element& Mirror() {
        if (!mirror_)
            mirror_ = mirror::FromContent(*tree);
        return *mirror_;
    }
    const std::string& CerealText() {
        if (!cerealText_)
            cerealText_ = mirror::CerealSave(Mirror());
        return *cerealText_;
    }
    const std::string& BoostText() {
        if (!boostText_)
            boostText_ = mirror::BoostSave(Mirror());
        return *boostText_;
    }

    // Drops everything.
    void Clear() {
        FreeXml(parsed_);
        FreeXml(written_);
        parsed_ = written_ = nullptr;
        dom_.reset();
        mirror_.reset();
        declared_.reset();
        cerealText_.reset();
        boostText_.reset();
        tree = nullptr;
        text = {};
        triangles = 0;
        error_.clear();
        current_ = nullptr;
    }

    std::string text;
    SmartPtr<SerializedContentElement> tree;
    std::uint64_t triangles = 0;

private:
    const Document* current_ = nullptr;
    std::string error_;
    XmlElem* parsed_ = nullptr;
    XmlElem* written_ = nullptr;
    std::unique_ptr<pugi::xml_document> dom_;
    std::optional<mirror::Element> mirror_;
    std::optional<std::string> declared_, cerealText_, boostText_;
};

Workspace workspace;

// Common start of every case: the document's workspace, or false after skipping the case.
bool Start(benchmark::State& state, const Document& document) {
    std::string error;
    if (workspace.Use(document, error))
        return true;
    state.SkipWithError(error.c_str());
    for (auto _ : state) {
    }
    return false;
}

// Throughput in the bytes of the text each case reads or writes; the content file's text for
// all but the peers, whose own XML text is counted.
void Count(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["text_bytes"] = static_cast<double>(bytes);
}

// Times the measured part of each iteration by the process's CPU time, all threads counted (the
// module loads on the host's fetch thread): on a shared machine other work disturbs it far less
// than wall-clock time, which is kept beside it as the counter wall_seconds.
class Timer {
public:
    explicit Timer(benchmark::State& state) : state_(state) {}
    ~Timer() {
        state_.counters["wall_seconds"] =
            benchmark::Counter(wall_, benchmark::Counter::kAvgIterations);
    }

    void Start() {
        cpu_ = CpuSeconds();
        started_ = std::chrono::steady_clock::now();
    }
    void Stop() {
        const double cpu = CpuSeconds() - cpu_;
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        state_.SetIterationTime(cpu);
    }

private:
    static double CpuSeconds() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }

    benchmark::State& state_;
    double cpu_ = 0;
    double wall_ = 0;
    std::chrono::steady_clock::time_point started_;
};

// The floor: copying the text into a buffer that already exists.
void Memcpy(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const std::string& text = workspace.text;
    std::vector<char> copy(text.size());
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        std::memcpy(copy.data(), text.data(), text.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        timer.Stop();
    }
    Count(state, text.size());
}

// The yardstick: pugixml's DOM parse with default options (load_buffer copies the text).
void PugixmlParse(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const std::string& text = workspace.text;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        auto dom = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result = dom->load_buffer(text.data(), text.size());
        timer.Stop();
        if (!result) {
            state.SkipWithError(result.description());
            break;
        }
    }
    Count(state, text.size());
}

// libxml2's DOM parse; XML_PARSE_HUGE lets it take text nodes over 10 MB (large payloads), and
// its complaints about a kestrel_sc prefix a document does not declare are not printed (they do
// not stop it, but it still builds a report for every element).
void Libxml2ParseText(benchmark::State& state, const std::string& text) {
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        xmlDocPtr dom = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                      XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        timer.Stop();
        if (!dom) {
            state.SkipWithError("libxml2 could not parse the text");
            break;
        }
        xmlFreeDoc(dom);
    }
    Count(state, text.size());
}

void Libxml2Parse(benchmark::State& state, const Document* document) {
    if (Start(state, *document))
        Libxml2ParseText(state, workspace.text);
}

// The same with the prefix declared on the root element: the same text for files that Save wrote,
// which declare it themselves.
void Libxml2ParseDeclared(benchmark::State& state, const Document* document) {
    if (Start(state, *document))
        Libxml2ParseText(state, workspace.DeclaredText());
}

// The module's whole load, as the tool does it: file on disk to content tree through a new
// loader component and its event.
void Load(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    Timer timer(state);
    for (auto _ : state) {
        std::string error;
        timer.Start();
        SmartPtr<SerializedContentElement> tree = module->Load(document->path, error);
        timer.Stop();
        if (!tree) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    Count(state, workspace.text.size());
    if (workspace.triangles != 0) {
        state.counters["triangles_per_second"] =
            benchmark::Counter(static_cast<double>(workspace.triangles),
                               benchmark::Counter::kIsIterationInvariantRate);
    }
}

// The parts of the load. Reading the file in one piece: the floor for the module's reading.
void LoadRead(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        std::string text = ReadFile(document->path);
        benchmark::DoNotOptimize(text.data());
        timer.Stop();
    }
    Count(state, workspace.text.size());
}

void LoadParseXml(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        XmlElem* root = ParseXml(workspace.text, false, nullptr);
        timer.Stop();
        if (!root) {
            state.SkipWithError("ParseXml failed");
            break;
        }
        FreeXml(root);
    }
    Count(state, workspace.text.size());
}

void LoadWalk(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const XmlElem& root = workspace.Parsed();
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        SmartPtr<SerializedContentElement> top(
            SerializedContentElement::CreateTopElement("figure"));
        serializedContent::XmlParser().Parse(&root, top.get());
        timer.Stop();
    }
    Count(state, workspace.text.size());
}

// Registered with a fixed number of iterations: each needs a ParseXml first, untimed.
void LoadFreeXml(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    Timer timer(state);
    for (auto _ : state) {
        XmlElem* root = ParseXml(workspace.text, false, nullptr);
        timer.Start();
        FreeXml(root);
        timer.Stop();
    }
    Count(state, workspace.text.size());
}

// The whole write, as kestrel-sc cat does it: content tree, XmlWriter, element tree, WriteXml.
void Write(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    if (kestrel::SaveText(*workspace.tree) != workspace.text)
        state.SetLabel("writes other bytes than the file holds");
    Timer timer(state);
    for (auto _ : state) {
        kestrel::Error error;
        timer.Start();
        std::string text = kestrel::SaveText(*workspace.tree, &error);
        benchmark::DoNotOptimize(text.data());
        timer.Stop();
        if (error) {
            state.SkipWithError(error.description().c_str());
            break;
        }
    }
    Count(state, workspace.text.size());
}

// The parts of the write: the XmlWriter walk building the element tree, then WriteXml.
void WriteWalk(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        XmlElem* root = NewWrittenRoot();
        serializedContent::XmlWriter writer(root);
        WalkContent(*workspace.tree, writer, WalkTop::ContentsOnly);
        timer.Stop();
        FreeXml(root);
    }
    Count(state, workspace.text.size());
}

void WriteText(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const XmlElem& root = workspace.Written();
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        std::string text = WriteXml(root);
        benchmark::DoNotOptimize(text.data());
        timer.Stop();
    }
    Count(state, workspace.text.size());
}

// pugixml's save of a DOM parsed from the same text, indented as the module's writer indents.
void PugixmlSave(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    struct StringWriter : pugi::xml_writer {
        std::string text;
        void write(const void* data, std::size_t size) override {
            text.append(static_cast<const char*>(data), size);
        }
    };
    const pugi::xml_document& dom = workspace.Dom();
    std::size_t bytes = 0;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        StringWriter writer;
        // Room for the whole text up front, as WriteXml makes for itself.
        ReserveLargeBuffer(writer.text, workspace.text.size() + 4096);
        dom.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
        benchmark::DoNotOptimize(writer.text.data());
        timer.Stop();
        bytes = writer.text.size();
    }
    Count(state, workspace.text.size());
    state.counters["output_bytes"] = static_cast<double>(bytes);
}

template <std::string (*Save)(const mirror::Element&)>
void PeerSave(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const mirror::Element& tree = workspace.Mirror();
    std::size_t bytes = 0;
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        std::string text = Save(tree);
        benchmark::DoNotOptimize(text.data());
        timer.Stop();
        bytes = text.size();
    }
    Count(state, bytes);
}

template <const std::string& (Workspace::*Text)(), mirror::Element (*LoadText)(const std::string&)>
void PeerLoad(benchmark::State& state, const Document* document) {
    if (!Start(state, *document))
        return;
    const std::string& text = (workspace.*Text)();
    if (LoadText(text) != workspace.Mirror())
        state.SetLabel("reads back other content than it saved");
    Timer timer(state);
    for (auto _ : state) {
        timer.Start();
        mirror::Element tree = LoadText(text);
        benchmark::DoNotOptimize(&tree);
        timer.Stop();
    }
    Count(state, text.size());
}

struct Case {
    const char* name;
    void (*run)(benchmark::State&, const Document*);
};

constexpr Case kCases[] = {
    {"memcpy", Memcpy},
    {"pugixml_parse", PugixmlParse},
    {"libxml2_parse", Libxml2Parse},
    {"libxml2_parse_declared", Libxml2ParseDeclared},
    {"load", Load},
    {"load_read", LoadRead},
    {"load_parsexml", LoadParseXml},
    {"load_walk", LoadWalk},
    {"load_freexml", LoadFreeXml},
    {"write", Write},
    {"write_walk", WriteWalk},
    {"write_text", WriteText},
    {"pugixml_save", PugixmlSave},
    {"cereal_save", PeerSave<mirror::CerealSave>},
    {"cereal_load", PeerLoad<&Workspace::CerealText, mirror::CerealLoad>},
    {"boost_save", PeerSave<mirror::BoostSave>},
    {"boost_load", PeerLoad<&Workspace::BoostText, mirror::BoostLoad>},
};

std::vector<std::string> Split(std::string_view text) {
    std::vector<std::string> parts;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        if (comma != 0)
            parts.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return parts;
}

// The value of --name=value among the arguments (taken out of them), else of the environment
// variable, else fallback.
std::string Option(int& argc, char** argv, const std::string& name, const char* variable,
                   const std::string& fallback) {
    const std::string prefix = "--" + name + "=";
    std::optional<std::string> value;
    for (int i = 1; i < argc;) {
        if (std::string_view(argv[i]).starts_with(prefix)) {
            value = argv[i] + prefix.size();
            for (int j = i; j + 1 < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
        } else {
            ++i;
        }
    }
    if (value)
        return *value;
    if (const char* set = std::getenv(variable); set && *set)
        return set;
    return fallback;
}

std::filesystem::path DefaultCache() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("docs") : self.parent_path().parent_path() / "docs";
}

void Usage() {
    std::cerr << "document_bench [benchmark options] [--sizes=4MB,64MB] "
                 "[--kinds=property,mesh,image] [--seed=1] [--docs=DIRECTORY]\n"
                 "  --sizes, --kinds, --seed and --docs may also come from KESTREL_BENCH_SIZES,\n"
                 "  KESTREL_BENCH_KINDS, KESTREL_BENCH_SEED and KESTREL_BENCH_DOCS; documents\n"
                 "  missing from the directory (default: ../docs beside the program) are\n"
                 "  generated into it.\n";
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Every case allocates and frees its results again and again. Freed memory stays in the
    // process (one arena, no mmap, no trimming), so that an iteration does not fault in fresh
    // pages, which on the virtual machines this runs on costs more than the parsing itself.
    // kestrel-bench-load measures the cold load of a fresh process.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
    benchmark::Initialize(&argc, argv);
    const std::string sizes = Option(argc, argv, "sizes", "KESTREL_BENCH_SIZES", "4MB,64MB");
    const std::string kinds =
        Option(argc, argv, "kinds", "KESTREL_BENCH_KINDS", "property,mesh,image");
    const std::string seedText = Option(argc, argv, "seed", "KESTREL_BENCH_SEED", "1");
    const std::filesystem::path cache =
        Option(argc, argv, "docs", "KESTREL_BENCH_DOCS", DefaultCache().string());
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        Usage();
        return 2;
    }
    const std::uint64_t seed = std::strtoull(seedText.c_str(), nullptr, 10);

    std::string error;
    module = kestrelbench::ModuleLoader::Open(error);
    if (!*module) {
        std::cerr << "document_bench: cannot open the module: " << error << '\n';
        return 1;
    }
    xmlInitParser();

    static std::vector<Document> documents;
    for (const std::string& kindName : Split(kinds)) {
        const auto kind = kestrelbench::ParseKind(kindName);
        if (!kind) {
            std::cerr << "document_bench: unknown kind " << kindName << '\n';
            Usage();
            return 2;
        }
        for (const std::string& sizeText : Split(sizes)) {
            const auto size = kestrelbench::ParseSize(sizeText);
            if (!size) {
                std::cerr << "document_bench: not a size: " << sizeText << '\n';
                Usage();
                return 2;
            }
            // Named after the size as given, as bench/run names the files it generates.
            const std::string label = std::string(kestrelbench::KindName(*kind)) + "/" + sizeText;
            const std::filesystem::path path =
                cache / (std::string(kestrelbench::KindName(*kind)) + "-" + sizeText + "-s" +
                         std::to_string(seed) + ".xml");
            std::error_code failure;
            if (!std::filesystem::is_regular_file(path, failure)) {
                std::filesystem::create_directories(cache, failure);
                std::cerr << "generating " << path.string() << '\n';
                auto generated = kestrelbench::GenerateDocument(*kind, *size, seed);
                if (kestrel::Error saved = kestrel::Save(*generated.tree, path.string())) {
                    std::cerr << "document_bench: " << saved.description() << '\n';
                    return 1;
                }
            }
            documents.push_back({*kind, *size, path.string(), label});
            benchmark::AddCustomContext(
                "document " + documents.back().label,
                path.string() + " (" + std::to_string(std::filesystem::file_size(path, failure)) +
                    " bytes)");
        }
    }
    for (const Document& document : documents) {
        for (const Case& c : kCases) {
            auto* registered = benchmark::RegisterBenchmark(
                (std::string(c.name) + "/" + document.label).c_str(), c.run, &document);
            registered->UseManualTime()->Unit(benchmark::kMillisecond);
            if (c.run == LoadFreeXml) {
                // About 32 MB of untimed parsing per repetition.
                registered->Iterations(static_cast<benchmark::IterationCount>(
                    std::clamp<std::uint64_t>(32000000 / document.size, 1, 64)));
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    workspace.Clear();
    xmlCleanupParser();
    return 0;
}
