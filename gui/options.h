#pragma once
// The eight options. Their only value at run time is the check mark of their
// item in the Options menu; the settings store keeps them between runs.
#include "platform/ports.h"

#include <QPointer>
#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>

class QMenu;
class QSettings;

struct OptionValue {
    uint16_t id;
    const char* valueName;
};

// The order in which the options are loaded.
inline constexpr std::array<OptionValue, 8> kOptionLoadOrder = {{
    {ShowDate, "ShowDate"},
    {FastCompression, "FastCompression"},
    {HideEncrypted, "HideEncrypted"},
    {HighEncryption, "HighEncryption"},
    {RememberFolder, "RememberFolder"},
    {ShowRootFolder, "ShowRootFolder"},
    {ShowSize, "ShowSize"},
    {WipePlainFiles, "WipePlainFiles"},
}};

inline constexpr char kRecentStorageValue[] = "RecentStorage";
inline constexpr char kRecentFolderValue[] = "RecentFolder";

// The Options drop-down of the command bar while it exists.
extern QPointer<QMenu> g_menuOptions;

// The menu's answer for IsOptionChecked: the check mark, or the default when
// there is no menu or no such item.
int OptionStateInMenu(uint16_t commandId);
// Makes IsOptionChecked (engine and all) answer from the Options menu.
void InstallOptionPort();

int IsOptionEnabled(uint16_t commandId);
// A grayed option cannot be changed, not by its accelerator either.
void ToggleOption(uint16_t commandId);
int DefaultOption(uint16_t commandId);

// Platform classification 0..6; only "Use storage root"'s default uses it.
int DetectPlatform();
struct PlatformTypeQuery {
    bool succeeded = false;
    QString type;           // when succeeded
    uint32_t lastError = 0; // when not
};
int ClassifyPlatform(int majorVersion, const PlatformTypeQuery& query);

// The settings store of the program's user: QSettings(kSettingsOrganization,
// kSettingsApplication).
inline constexpr char kSettingsOrganization[] = "TQ";
inline constexpr char kSettingsApplication[] = "Keshlor";

// A stored option value as a 32-bit number; false when it is not one (absent,
// text, larger than 32 bits), which counts as missing.
bool ReadStoredDword(const QVariant& value, uint32_t* number);

// Why the settings store cannot keep the options (a read-only file, another
// user's, a folder that cannot be written), as a message naming the file;
// empty when it can. Saving is then left alone, so nothing takes the file.
QString OptionsStoreProblem();
inline constexpr char kOptionsNotSavedCaption[] = "Can't save options!";

void LoadOption(QSettings& store, const char* valueName, uint16_t commandId);
// Loads every option into its check mark, in load order.
void LoadOptions();
// Writes every option and, with "Remember folder" on, the chosen storage card
// and subfolder (empty for the fixed entries), in save order; nothing while
// OptionsStoreProblem has something to say.
void SaveOptions(const QString& storageName, const QString& folderName);
