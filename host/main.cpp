// Entry point of the plug-in process: reads the host's command line, wires plug-in and connection together
// and runs the connection until the host goes away.
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/localizer.h"
#include "host/pnx_connection_manager.h"
#include "host/process_arguments.h"
#include "plugin/my_panelox_plugin.h"

namespace {

// The connection lives until the process exits, the plug-in until Run has returned; nothing tears either down
// while Run is running. Held here, not only on main's stack, so that they stay reachable to the end.
MyPaneloxPlugin* g_plugin = nullptr;
PnxConnectionManager* g_connection = nullptr;

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments = ProcessArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  CommandLine commandLine;
  if (!ParseCommandLine(static_cast<int>(pointers.size()), pointers.data(), commandLine)) return 1;

  g_plugin = new MyPaneloxPlugin();
  const std::string language = ReadLanguage(commandLine.info);
  if (!g_localizer) g_localizer = new Localizer(language);
  g_connection = new PnxConnectionManager(commandLine.port, commandLine.pluginUUID, commandLine.registerEvent,
                                          g_plugin);
  g_plugin->SetConnectionManager(g_connection);
  g_plugin->Begin();
  g_connection->Run();
  // No streaming thread may still deliver preview frames while the process tears down. The connection has
  // ended, so nothing calls into the plug-in any more: it goes now, releasing the graph, the devices and COM
  // before the process exits.
  g_plugin->StopPreview();
  delete g_plugin;
  g_plugin = nullptr;
  return 0;
}
