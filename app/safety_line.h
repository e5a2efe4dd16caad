#pragma once
// The options that decide how safe a new container is, shown where the user
// acts: a line in the main window's status bar that follows "High encryption"
// and "Wipe after encryption" at once, and a brief notice when an accelerator
// switches one of them off, which the menu's check mark alone would not show.
#include <QString>

class QMainWindow;

inline constexpr int kWeakenedNoticeMs = 5000;

// "High encryption · wipe on", "Low encryption (40-bit) · wipe off".
QString SafetyLineText();
// The notice for an option switched off by its accelerator; empty for an
// option whose going off weakens nothing.
QString WeakenedOptionNotice(int option);

// Adds the status bar with the line to `window`, after its options are loaded.
void InstallSafetyLine(QMainWindow* window);
