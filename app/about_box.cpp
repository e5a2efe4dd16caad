#include "app/about_box.h"

#include "app/artwork.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

QDialog* CreateAboutBox(QWidget* owner) {
    auto* box = new QDialog(owner);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setWindowTitle(QDialog::tr("About Keshlor"));
    box->setModal(true);

    auto* icon = new QLabel(box);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setAccessibleName(QDialog::tr("Keshlor icon"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setFixedSize(32, 32);

    auto* text = new QLabel(QString::fromLatin1(kAboutText), box);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
    buttons->setObjectName(QStringLiteral("aboutButtons"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);

    auto* layout = new QVBoxLayout(box);
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    box->setMinimumWidth(240);
    return box;
}
