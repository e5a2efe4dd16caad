#include "gui/gui_ports.h"

#include "gui/options.h"
#include "gui/window_placement.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QShowEvent>

#include <utility>
#include <vector>

namespace {

QMessageBox::Icon IconFor(uint32_t style) {
    switch (style & plat::kMbIconMask) {
    case plat::kMbIconHand:
        return QMessageBox::Critical;
    case plat::kMbIconQuestion:
        return QMessageBox::Question;
    case plat::kMbIconExclamation:
        return QMessageBox::Warning;
    default:
        return QMessageBox::NoIcon;
    }
}

// The buttons of a style, in the order the platform shows them, with the
// answer each one gives.
std::vector<std::pair<QMessageBox::StandardButton, int>> ButtonsFor(uint32_t style) {
    switch (style & plat::kMbButtonMask) {
    case plat::kMbOkCancel:
        return {{QMessageBox::Ok, plat::kIdOk}, {QMessageBox::Cancel, plat::kIdCancel}};
    case plat::kMbRetryCancel:
        return {{QMessageBox::Retry, plat::kIdRetry}, {QMessageBox::Cancel, plat::kIdCancel}};
    case plat::kMbYesNo:
        return {{QMessageBox::Yes, plat::kIdYes}, {QMessageBox::No, plat::kIdNo}};
    default:
        return {{QMessageBox::Ok, plat::kIdOk}};
    }
}

// Opens centred on the window it belongs to, once its size is known.
class OwnedMessageBox : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (!event->spontaneous())
            CentreOnOwner(this);
    }
};

intptr_t SetWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return 1;
}

void RestoreAppCursor(intptr_t previous) {
    if (previous)
        QApplication::restoreOverrideCursor();
}

} // namespace

int ShowMessageBox(plat::WindowHandle owner, const QString& text, const QString& caption,
                   uint32_t style) {
    QWidget* parent = WidgetOf(owner);
    if (!parent)
        parent = QApplication::activeWindow();
    OwnedMessageBox box(IconFor(style), caption, text, QMessageBox::NoButton, parent);
    const auto buttons = ButtonsFor(style);
    for (const auto& button : buttons)
        box.addButton(button.first);
    const size_t defaultIndex = (style & plat::kMbDefButton2) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(buttons[defaultIndex].first);
    // Escape answers as the safe choice would.
    const int safe = plat::SafeAnswer(style);
    for (const auto& button : buttons) {
        if (button.second == safe)
            box.setEscapeButton(button.first);
    }
    box.exec();
    const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
    for (const auto& button : buttons) {
        if (button.first == clicked)
            return button.second;
    }
    return safe;
}

void InstallGuiPorts() {
    plat::SetMessageBoxPort(ShowMessageBox);
    InstallOptionPort();
    plat::SetCursorPort({SetWaitCursor, RestoreAppCursor});
}

void RemoveGuiPorts() {
    plat::SetMessageBoxPort({});
    plat::SetOptionPort({});
    plat::SetCursorPort({});
}
