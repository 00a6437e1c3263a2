#include <map>
#include <stdexcept>

#include "commands/commands.h"

namespace qor::commands {

CommandPtr makeCommand(const std::string& typeName, const cli::ParsedArguments& arguments) {
  using Factory = CommandPtr (*)(const cli::ParsedArguments&);
  static const std::map<std::string, Factory, std::less<>> factories = {
      {"List", makeList},
      {"Status", makeStatus},
      {"Start", makeStart},
      {"Suspend", makeSuspend},
      {"Stop", makeStop},
      {"Attach", makeAttach},
      {"FilePull", makeFilePull},
      {"FilePush", makeFilePush},
      {"Exec", makeExec},
      {"IPAddress", makeIPAddress},
      {"Clone", makeClone},
      {"Delete", makeDelete},
      {"USBList", makeUSBList},
      {"USBConnect", makeUSBConnect},
      {"USBDisconnect", makeUSBDisconnect},
  };
  auto it = factories.find(typeName);
  // The command table and this registry are written together; a miss is a programming error.
  if (it == factories.end()) throw std::logic_error("no command of type " + typeName);
  return it->second(arguments);
}

}  // namespace qor::commands
