#pragma once
// The program's help: the bundled user guide in its own window, opened at an
// anchor. This is what a help request (F1) from any window of the program
// leads to.
#include <QString>

class QTextBrowser;
class QWidget;

inline constexpr char kHelpMainContents[] = "Main_Contents";
inline constexpr char kHelpEncrypting[] = "encrypting_with_keshlor";
inline constexpr char kHelpDecrypting[] = "decrypting_with_keshlor";

// Shows the guide at `anchor`, reusing the help window when it is open.
void ShowHelp(QWidget* owner, const QString& anchor);
// The help window's text while it is open, else null.
QTextBrowser* HelpBrowser();
