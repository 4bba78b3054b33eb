#ifndef CLI_HANDLERS_H
#define CLI_HANDLERS_H

// The functions that run efis-cli's commands, one file per command or family; the command table
// names them.

#include "cli_commands.h"

namespace cli {

// cmd_units.cpp: the units present, one unit's identity, its reboot.
int runDevices(Context &c, const Invocation &in);
int runInfo(Context &c, const Invocation &in);
int runReboot(Context &c, const Invocation &in);

// cmd_settings.cpp: the unit's settings read, changed and stored.
int runGet(Context &c, const Invocation &in);
int runSet(Context &c, const Invocation &in);
int runSave(Context &c, const Invocation &in);

// cmd_files.cpp: settings files written, compared, sent, checked.
int runExport(Context &c, const Invocation &in);
std::optional<int> readComparedFile(Context &c, const Invocation &in);
int runImport(Context &c, const Invocation &in);
int runDiff(Context &c, const Invocation &in);
int runCheck(Context &c, const Invocation &in);

// cmd_flash.cpp: a firmware image written into the unit, and what follows.
std::optional<int> checkFlashRequest(Context &c, const Invocation &in);
int runFlash(Context &c, const Invocation &in);
QString flashLost(const Context &c);

// cmd_preview.cpp: how the settings read on the unit's display.
std::optional<int> previewWithoutUnit(Context &c, const Invocation &in);
int runPreview(Context &c, const Invocation &in);

} // namespace cli

#endif // CLI_HANDLERS_H
