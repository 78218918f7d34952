// Entry point of the plug-in process: reads the host's command line, wires plug-in and connection together
// and runs the connection until the host goes away.
#include "host/command_line.h"
#include "host/localizer.h"
#include "host/pnx_connection_manager.h"
#include "plugin/my_panelox_plugin.h"

int main(int argc, char* argv[]) {
  CommandLine commandLine;
  if (!ParseCommandLine(argc, argv, commandLine)) return 1;

  // Plug-in and connection live until the process exits; nothing tears them down while Run is running.
  auto* plugin = new MyPaneloxPlugin();
  const std::string language = ReadLanguage(commandLine.info);
  if (!g_localizer) g_localizer = new Localizer(language);
  auto* connection = new PnxConnectionManager(commandLine.port, commandLine.pluginUUID,
                                              commandLine.registerEvent, plugin);
  plugin->SetConnectionManager(connection);
  connection->Run();
  // No streaming thread may still deliver preview frames while the process tears down.
  plugin->StopPreview();
  return 0;
}
