#include "app/help_window.h"

#include "browser/list_marks.h"
#include "gui/window_placement.h"

#include <QApplication>
#include <QKeySequence>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QPointer<QWidget> g_helpWindow;
QPointer<QTextBrowser> g_helpBrowser;

// The guide's legend shows the file list's own marks: "mark:1" to "mark:4"
// are the pictures of ItemMark 1 to 4, painted as the list paints them.
class HelpText : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;

  protected:
    QVariant loadResource(int type, const QUrl& name) override {
        if (type != QTextDocument::ImageResource || name.scheme() != QLatin1String("mark"))
            return QTextBrowser::loadResource(type, name);
        bool ok = false;
        const int mark = name.path().toInt(&ok);
        const QPixmap strip = PaintMarkStrip(1.0);
        if (!ok || mark < 1 || mark > kMarkCount || strip.isNull())
            return {};
        return strip.copy((mark - 1) * kMarkWidth, 0, kMarkWidth, kMarkHeight).toImage();
    }
};

QWidget* CreateHelpWindow(QWidget* parent) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("helpWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QApplication::translate("Help", "Keshlor Help"));
    auto* browser = new HelpText(window);
    browser->setObjectName(QStringLiteral("helpText"));
    browser->setAccessibleName(QApplication::translate("Help", "Help text"));
    browser->verticalScrollBar()->setAccessibleName(
        QApplication::translate("Help", "Scroll the help"));
    browser->horizontalScrollBar()->setAccessibleName(
        QApplication::translate("Help", "Scroll the help sideways"));
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
    if (!g_helpWindow) {
        g_helpWindow = CreateHelpWindow(parent);
        // Where the user will look for it; once open, it stays where they put it.
        CentreOnOwner(g_helpWindow);
    }

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
