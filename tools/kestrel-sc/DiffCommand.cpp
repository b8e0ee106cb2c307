#include "Commands.h"

namespace kestrelsc {

void AddDiffCommand(CLI::App&, ToolContext&) {}

}  // namespace kestrelsc
