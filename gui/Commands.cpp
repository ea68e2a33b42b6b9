#include "gui/Commands.h"

namespace vaultry::qt {

std::vector<std::string> unwiredCommands(const Commands& c) {
    std::vector<std::string> missing;
#define VAULTRY_COMMAND_CHECK(Type, name) \
    if (!c.name) missing.emplace_back(#name);
    VAULTRY_COMMANDS(VAULTRY_COMMAND_CHECK)
#undef VAULTRY_COMMAND_CHECK
    return missing;
}

}  // namespace vaultry::qt
