#pragma once
// Command IDs of the command bar, its drop-downs and the accelerators. The
// eight options are commands too, under their OptionId.
#include "platform/ports.h"

#include <Qt>

#include <array>
#include <cstdint>

enum CommandId : uint16_t {
    CmdAbout = 40003,
    CmdRefresh = 40021,
    CmdOptionsMenu = 40032, // opens its drop-down; not a dispatched command
    CmdExit = 40033,
    CmdEncryptAll = 40058,
    CmdEncryptAllHidden = 40059,
    CmdDecryptAll = 40060,
    CmdDecryptAllHidden = 40061,
    CmdEncryptAllVisible = 40062,
    CmdDecryptAllVisible = 40063,
    CmdFileMenu = 40064, // opens its drop-down; not a dispatched command
    CmdBrowseForFile = 40067,
};

struct Accelerator {
    Qt::Key key; // with Ctrl
    uint16_t command;
};

// Window-wide Ctrl+letter accelerators.
inline constexpr std::array<Accelerator, 11> kAccelerators = {{
    {Qt::Key_A, CmdAbout},
    {Qt::Key_D, ShowDate},
    {Qt::Key_E, HideEncrypted},
    {Qt::Key_F, FastCompression},
    {Qt::Key_H, HighEncryption},
    {Qt::Key_K, RememberFolder},
    {Qt::Key_Q, CmdExit},
    {Qt::Key_R, CmdRefresh},
    {Qt::Key_S, ShowRootFolder},
    {Qt::Key_W, WipePlainFiles},
    {Qt::Key_Z, ShowSize},
}};
