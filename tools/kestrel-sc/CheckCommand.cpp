#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Checker.h"
#include "Commands.h"

namespace kestrelsc {

namespace {

// Reads the whole of a regular file. Anything else is refused before it is read, as the loader
// refuses it: a FIFO or a device could block or never end.
bool ReadRegularFile(const std::string& path, std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok) {
        error = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        error = "is a directory";
        ok = false;
    } else if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        ok = false;
    }
    text.clear();
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            error = std::strerror(errno);
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

void AddCheckCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::vector<std::string> inputs;
        bool strict = false;
        std::string format = "text";
    };
    auto options = std::make_shared<Options>();
    CLI::App* check = app.add_subcommand(
        "check", "Report what loading would drop or change silently, with line and column");
    check->add_option("FILE", options->inputs, "Content files or canonical JSON to check")
        ->required();
    check->add_flag("--strict", options->strict,
                    "Also warn about what is ignored harmlessly but looks like a mistake, and "
                    "fail on warnings");
    check->add_option("--format", options->format, "Output form: text (default) or json")
        ->check(CLI::IsMember({"text", "json"}));
    check->footer(
        "Each finding is printed to standard output as\n"
        "  FILE:LINE:COLUMN: error|warning: MESSAGE [CODE]\n"
        "at the element concerned (at the offending character of a damaged Base64 payload), and\n"
        "a summary line per file goes to standard error (not with -q). With --format json,\n"
        "standard output holds one JSON array of {\"file\", \"line\", \"column\", \"severity\",\n"
        "\"code\", \"message\"}.\n"
        "\n"
        "Errors: what the reader drops or changes.\n"
        "  malformed-xml, json-invalid          the file does not load at all\n"
        "  property-missing-type, -name         a property or array without it is left out\n"
        "  unknown-type, unknown-array-type     a type name the reader does not know\n"
        "  bad-value                            an unreadable or missing value, stored as default\n"
        "  out-of-range                         a number stored as another (int8 300 is 44)\n"
        "  array-child-ignored                  an array child that is not an item\n"
        "  property-child-ignored               child elements of a property\n"
        "  shape-structure                      not <vertices> then <triangles>\n"
        "  shape-count-missing, -mismatch       payload records not read, or fewer than said\n"
        "  shape-payload-size, shape-bad-index  a partial record, a triangle without its vertex\n"
        "  bad-base64                           a damaged payload\n"
        "  image-empty, image-unreadable        an image the BMP loader does not read\n"
        "Warnings: array-count-mismatch, root-property (a property directly under the root is\n"
        "a content element), image-not-checked; with --strict also value-ignored, image-format,\n"
        "duplicate-name, element-prefix, unknown-attribute, name-case.\n"
        "\n"
        "Exit status: 0 no errors (with --strict: no warnings either), 1 problems found,\n"
        "2 a file could not be checked (missing, a directory, not a regular file, unreadable)\n"
        "or a bad command line. All files are checked; the worst status wins.\n"
        "\n"
        "Examples:\n"
        "  kestrel-sc check examples/*.xml\n"
        "  kestrel-sc check --strict --format json drawing.xml > findings.json");
    check->callback([options, &context] {
        int worst = kExitOk;
        const bool json = options->format == "json";
        nlohmann::json all = nlohmann::json::array();
        for (const std::string& path : options->inputs) {
            std::string text, error;
            if (!ReadRegularFile(path, text, error)) {
                context.Fail(path + ": " + error, kExitUsage);
                worst = std::max(worst, kExitUsage);
                continue;
            }
            const std::vector<Finding> findings = CheckDocument(text, {options->strict});
            std::size_t errors = 0, warnings = 0;
            for (const Finding& finding : findings) {
                (finding.severity == Severity::Error ? errors : warnings) += 1;
                if (json) {
                    all.push_back({{"file", path},
                                   {"line", finding.line},
                                   {"column", finding.column},
                                   {"severity", SeverityName(finding.severity)},
                                   {"code", finding.code},
                                   {"message", finding.message}});
                } else {
                    std::cout << path << ':' << finding.line << ':' << finding.column << ": "
                              << SeverityName(finding.severity) << ": " << finding.message << " ["
                              << finding.code << "]\n";
                }
            }
            if (errors > 0 || (options->strict && warnings > 0))
                worst = std::max(worst, kExitFailed);
            if (!context.quiet) {
                std::cout.flush();
                if (errors + warnings == 0) {
                    std::cerr << path << ": no problems found\n";
                } else {
                    std::cerr << path << ": " << errors << (errors == 1 ? " error, " : " errors, ")
                              << warnings << (warnings == 1 ? " warning\n" : " warnings\n");
                }
            }
        }
        if (json) {
            // Messages quote file text, which need not be UTF-8.
            std::cout << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
        std::cout.flush();
        context.status = worst;
    });
}

}  // namespace kestrelsc
