#include "app/safety_line.h"

#include "gui/options.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>

namespace {

constexpr uint16_t kSafetyOptions[] = {HighEncryption, WipePlainFiles};

// Notices an option's accelerator: the option is looked at again once the
// shortcut has been handled, and a protection it took away is announced.
class AcceleratorWatch : public QObject {
  public:
    AcceleratorWatch(QStatusBar* bar, QAction* action, uint16_t option)
        : QObject(action), bar_(bar), option_(option) {
        action->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Shortcut)
            return false;
        const bool wasOn = IsOptionChecked(option_) != 0;
        QMetaObject::invokeMethod(
            this,
            [this, wasOn] {
                if (wasOn && !IsOptionChecked(option_) && bar_)
                    bar_->showMessage(WeakenedOptionNotice(option_), kWeakenedNoticeMs);
            },
            Qt::QueuedConnection);
        return false;
    }

  private:
    QPointer<QStatusBar> bar_;
    uint16_t option_;
};

QAction* OptionAction(uint16_t option) {
    if (!g_menuOptions)
        return nullptr;
    for (QAction* action : g_menuOptions->actions()) {
        if (action->isCheckable() && action->data().toInt() == option)
            return action;
    }
    return nullptr;
}

} // namespace

QString SafetyLineText() {
    const QString strength = IsOptionChecked(HighEncryption)
                                 ? QStringLiteral("High encryption")
                                 : QStringLiteral("Low encryption (40-bit)");
    const QString wipe =
        IsOptionChecked(WipePlainFiles) ? QStringLiteral("wipe on") : QStringLiteral("wipe off");
    return strength + QStringLiteral(" \u00b7 ") + wipe;
}

QString WeakenedOptionNotice(int option) {
    switch (option) {
    case HighEncryption:
        return QStringLiteral("High encryption switched off");
    case WipePlainFiles:
        return QStringLiteral("Wipe after encryption switched off");
    default:
        return QString();
    }
}

void InstallSafetyLine(QMainWindow* window) {
    QStatusBar* bar = window->statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(false);
    auto* line = new QLabel(SafetyLineText(), bar);
    line->setObjectName(QStringLiteral("safetyLine"));
    line->setToolTip(QStringLiteral("How new containers are made: the encryption strength, and "
                                    "whether plain files are overwritten before they are deleted"));
    line->setContentsMargins(4, 0, 6, 0);
    // Permanent, so that a notice beside it does not hide the state.
    bar->addPermanentWidget(line);
    for (const uint16_t option : kSafetyOptions) {
        QAction* action = OptionAction(option);
        if (!action)
            continue;
        QObject::connect(action, &QAction::toggled, line,
                         [line] { line->setText(SafetyLineText()); });
        new AcceleratorWatch(bar, action, option);
    }
}
