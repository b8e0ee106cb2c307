#include <algorithm>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Parallel.h"
#include "kestrel/check/Checker.h"
#include "kestrel/files/FilePath.h"
#include "kestrel/load/Content.h"

namespace kestrelsc {

using kestrel::check::CheckDocument;
using kestrel::check::Finding;
using kestrel::check::Severity;
using kestrel::check::SeverityName;

void AddCheckCommand(CLI::App& app, ToolContext& context) {
    struct Options {
        std::vector<std::string> inputs;
        bool strict = false;
        std::string format = "text";
        unsigned jobs = 0;
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
    AddJobsOption(*check, options->jobs, "Files checked");
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
        "  value-changed, property-lost         a value or property lost another way\n"
        "  load-failed                          the reader failed for another reason\n"
        "Warnings: array-count-mismatch, root-property (a property directly under the root is\n"
        "a content element); with --strict also value-ignored, image-format, duplicate-name,\n"
        "element-prefix, unknown-attribute, name-case.\n"
        "\n"
        "Exit status: 0 no errors (with --strict: no warnings either), 1 problems found,\n"
        "2 a file could not be checked (missing, a directory, not a regular file, unreadable)\n"
        "or a bad command line. All files are checked; the worst status wins.\n"
        "\n"
        "Files are checked in parallel (see --jobs); what is printed comes in the order of the\n"
        "files given, the same as with -j 1.\n"
        "\n"
        "Examples:\n"
        "  kestrel-sc check examples/*.xml\n"
        "  kestrel-sc check -j 4 --format json models/*.xml > findings.json\n"
        "  kestrel-sc check --strict --format json drawing.xml > findings.json");
    check->callback([options, &context] {
        const bool json = options->format == "json";
        // The reader traces what it passes over; the findings say it with line and column.
        kestrel::SetTraceSink([](const std::string&) {});
        // What checking one file has to say, gathered on a worker and printed in file order.
        struct Report {
            ToolContext context;     // holds the failure to read the file, and the status
            std::string findings;    // text lines for standard output
            nlohmann::json objects;  // the findings, with --format json
            std::string summary;     // the line for standard error
        };
        const ToolContext worker = context.ForWorker(false);
        auto checkFile = [&](std::size_t index) {
            const std::string& path = options->inputs[index];
            Report report{worker, {}, nlohmann::json::array(), {}};
            std::string text;
            if (const kestrel::Error unreadable = kestrel::files::ReadRegularFile(path, text)) {
                report.context.Fail(unreadable.description());
                return report;
            }
            const std::vector<Finding> findings = CheckDocument(text, {options->strict});
            std::size_t errors = 0, warnings = 0;
            for (const Finding& finding : findings) {
                (finding.severity == Severity::Error ? errors : warnings) += 1;
                if (json) {
                    report.objects.push_back({{"file", path},
                                              {"line", finding.line},
                                              {"column", finding.column},
                                              {"severity", SeverityName(finding.severity)},
                                              {"code", finding.code},
                                              {"message", finding.message}});
                } else {
                    report.findings += path + ':' + std::to_string(finding.line) + ':' +
                                       std::to_string(finding.column) + ": " +
                                       SeverityName(finding.severity) + ": " + finding.message +
                                       " [" + finding.code + "]\n";
                }
            }
            if (errors > 0 || (options->strict && warnings > 0))
                report.context.negative = true;
            if (errors + warnings == 0) {
                report.summary = path + ": no problems found\n";
            } else {
                report.summary = path + ": " + std::to_string(errors) +
                                 (errors == 1 ? " error, " : " errors, ") +
                                 std::to_string(warnings) +
                                 (warnings == 1 ? " warning\n" : " warnings\n");
            }
            return report;
        };
        context.answers = true;
        nlohmann::json all = nlohmann::json::array();
        auto print = [&](std::size_t, Report& report) {
            for (nlohmann::json& object : report.objects)
                all.push_back(std::move(object));
            std::cout << report.findings;
            context.Merge(report.context);
            if (!context.quiet && !report.summary.empty()) {
                std::cout.flush();
                std::cerr << report.summary;
            }
        };
        RunInOrder(options->inputs.size(), options->jobs ? options->jobs : DefaultJobs(), checkFile,
                   print);
        if (json) {
            // Messages quote file text, which need not be UTF-8.
            std::cout << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
        std::cout.flush();
    });
}

}  // namespace kestrelsc
