#include "Commands.h"

namespace kestrelsc {

void AddInfoCommand(CLI::App&, ToolContext&) {}

}  // namespace kestrelsc
