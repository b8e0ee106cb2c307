#include "Commands.h"

namespace kestrelsc {

void AddGetCommand(CLI::App&, ToolContext&) {}

}  // namespace kestrelsc
