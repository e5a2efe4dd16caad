#include "gui/window_placement.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

void CentreOnOwner(QWidget* window) {
    const QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const QScreen* screen = owner ? owner->screen() : window->screen();
    if (!screen)
        screen = QApplication::primaryScreen();
    if (!screen)
        return;
    const QRect usable = screen->availableGeometry();
    const QRect around = owner && owner->isVisible() ? owner->frameGeometry() : usable;
    const QSize size = window->frameGeometry().size();
    QPoint at = around.center() - QPoint(size.width() / 2, size.height() / 2);
    // Whole on the screen where it fits, its top left corner in view where not.
    at.setX(qMax(usable.left(), qMin(at.x(), usable.right() + 1 - size.width())));
    at.setY(qMax(usable.top(), qMin(at.y(), usable.bottom() + 1 - size.height())));
    window->move(at);
}
