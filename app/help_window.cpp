#include "app/help_window.h"

#include <QApplication>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QPointer<QWidget> g_helpWindow;
QPointer<QTextBrowser> g_helpBrowser;

QWidget* CreateHelpWindow(QWidget* parent) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("helpWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QApplication::translate("Help", "Keshlor Help"));
    auto* browser = new QTextBrowser(window);
    browser->setObjectName(QStringLiteral("helpText"));
    browser->setAccessibleName(QApplication::translate("Help", "Help text"));
    browser->setOpenLinks(true);
    browser->setOpenExternalLinks(false);
    browser->document()->setDocumentMargin(12);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    QObject::connect(close, &QShortcut::activated, window, &QWidget::close);
    window->resize(460, 560);
    g_helpBrowser = browser;
    return window;
}

} // namespace

void ShowHelp(QWidget* owner, const QString& anchor) {
    // While a modal dialog is open every other window is blocked; the guide
    // must stay readable next to it, so it belongs to that dialog then.
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent && owner)
        parent = owner->window();
    if (g_helpWindow && g_helpWindow->parentWidget() != parent) {
        delete g_helpWindow;
    }
    if (!g_helpWindow)
        g_helpWindow = CreateHelpWindow(parent);

    QUrl url(QStringLiteral("qrc:/help/Keshlor.htm"));
    url.setFragment(anchor);
    g_helpBrowser->setSource(url);
    g_helpWindow->show();
    g_helpWindow->raise();
    g_helpWindow->activateWindow();
    g_helpBrowser->scrollToAnchor(anchor);
}

QTextBrowser* HelpBrowser() {
    return g_helpWindow ? g_helpBrowser.data() : nullptr;
}
