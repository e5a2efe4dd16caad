#pragma once
// Joins the layers at start-up. The calls that run upward (a tap on a row
// starting a command) and the program's own widgets that the password dialogs
// show (help, the notification icon) are handed down here, so that each layer
// names only those below it.

void InstallProgramHooks();
void RemoveProgramHooks();
