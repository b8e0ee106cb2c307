#include "Commands.h"

namespace kestrelsc {

void AddCheckCommand(CLI::App&, ToolContext&) {}

}  // namespace kestrelsc
