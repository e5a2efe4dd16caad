#include "app/program_hooks.h"

#include "app/artwork.h"
#include "app/help_window.h"
#include "browser/list_activation.h"
#include "commands/file_commands.h"
#include "commands/password_dialogs.h"

void InstallProgramHooks() {
    SetRowCommandHook(RunRowCommand);
    // Help from a password dialog opens over that dialog, where its modality allows use.
    SetPasswordHelpHandler(
        [](QWidget* dialog, const QString& anchor) { ShowHelp(dialog, anchor); });
    SetPasswordNotificationIcon([] { return NotificationIcon(); });
}

void RemoveProgramHooks() {
    SetRowCommandHook({});
    SetPasswordHelpHandler({});
    SetPasswordNotificationIcon({});
}
