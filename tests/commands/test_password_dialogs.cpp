// The four password dialogs driven as real widgets under the offscreen
// platform; the mismatch question goes through the message-box port.
#include "commands/password_dialogs.h"
#include "platform/desktop_opener.h"
#include "port_doubles.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

// Acts once on the modal dialog as soon as it is the active window, from a
// timer that also runs inside the dialog's own loop. Whatever is still open
// when the time is up gets closed, so a wrong test fails instead of hanging.
class ModalDriver : public QObject {
  public:
    explicit ModalDriver(std::function<void(QDialog*)> act, int timeoutMs = 3000)
        : act_(std::move(act)), timeoutMs_(timeoutMs) {
        clock_.start();
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start();
    }
    bool acted() const { return acted_; }
    bool timedOut() const { return timedOut_; }

  private:
    void Tick() {
        QWidget* open = QApplication::activeModalWidget();
        if (!acted_ && open && open->isVisible() && open->isActiveWindow()) {
            acted_ = true;
            act_(qobject_cast<QDialog*>(open));
            return;
        }
        if (clock_.elapsed() > timeoutMs_) {
            if (open) {
                timedOut_ = true;
                open->close();
            } else {
                timer_.stop();
            }
        }
    }

    std::function<void(QDialog*)> act_;
    int timeoutMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool acted_ = false;
    bool timedOut_ = false;
};

QLineEdit* Field(QWidget* dialog, const char* name) {
    return dialog->findChild<QLineEdit*>(QLatin1String(name));
}

QPushButton* Button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

void Click(QWidget* dialog, const char* name) {
    QTest::mouseClick(Button(dialog, name), Qt::LeftButton);
}

// What the fields hold when the dialog ends.
void WatchFieldsAtEnd(QDialog* dialog, QStringList* atEnd) {
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, atEnd] {
        for (const QLineEdit* field : dialog->findChildren<QLineEdit*>())
            *atEnd << field->text();
    });
}

// Gaps between a window and the area it is centred in, left minus right and
// top minus bottom.
QPoint Imbalance(const QRect& area, const QRect& window) {
    return {(window.left() - area.left()) - (area.right() - window.right()),
            (window.top() - area.top()) - (area.bottom() - window.bottom())};
}

#define RUN_DIALOG_FOR(id, request, subject, act)                                                  \
    do {                                                                                           \
        ModalDriver driver(act);                                                                   \
        QVERIFY(ShowPasswordDialog(nullptr, id, &(request), subject));                             \
        QVERIFY(driver.acted());                                                                   \
        QVERIFY(!driver.timedOut());                                                               \
    } while (false)
#define RUN_DIALOG(id, request, act) RUN_DIALOG_FOR(id, request, PasswordSubject{}, act)

} // namespace

class PasswordDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        opened_.clear();
        SetOpenFileHandler([this](const QString& path, QString*) {
            opened_ << path;
            return true;
        });
        SetPasswordHelpHandler({});
    }

    void templates_data();
    void templates();
    void encryptDialogOffersTheStoredPassword();
    void mismatchRetryKeepsBothEntriesThenCancelEnds();
    void emptyEntriesMakeAMarkedEmptyPassword();
    void openInTheEncryptDialogOpensThePlainFileAndStays();
    void decryptDialogShowsTheStoredPasswordOnlyWhenPrefilled();
    void helpOpensTheGuideAtTheDialogsAnchor();
    void dialogIsCentredAndFollowsTheVisibleArea();
    void focusReturnsToTheRememberedControl();
    void passwordTheFieldsCannotHoldEndsWithPrefillFailed();
    void titleNamesTheFileAndTheFieldsSayWhatTheyAreFor();
    void fieldsTakeTheLimitAndSaySoWhenFull();

  private:
    QStringList opened_;
};

void PasswordDialogsTest::templates_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("tabOrder");
    QTest::addColumn<QString>("defaultButton");
    QTest::newRow("114 single decrypt")
        << 114 << "Password:" << QStringList{"password", "&Open", "&Decrypt", "&Cancel"} << "&Open";
    QTest::newRow("132 batch decrypt")
        << 132 << "Batch Password:" << QStringList{"password", "&Decrypt", "&Cancel"} << "&Decrypt";
    QTest::newRow("115 single encrypt")
        << 115 << "Password / Confirmation:"
        << QStringList{"password", "confirmation", "&Encrypt", "&Open", "&Cancel"} << "&Encrypt";
    QTest::newRow("133 batch encrypt")
        << 133 << "Batch Password / Confirmation:"
        << QStringList{"password", "confirmation", "&Encrypt", "&Cancel"} << "&Encrypt";
}

void PasswordDialogsTest::templates() {
    QFETCH(int, id);
    QFETCH(QString, label);
    QFETCH(QStringList, tabOrder);
    QFETCH(QString, defaultButton);
    PasswordRequest request;
    RUN_DIALOG(id, request, [&](QDialog* dialog) {
        // A title bar to move it by, also with no main window behind it.
        QVERIFY(!dialog->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(dialog->windowFlags().testFlag(Qt::WindowTitleHint));
        QCOMPARE(dialog->findChild<QLabel*>()->text(), label);
        QStringList defaults;
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->isDefault())
                defaults << button->text();
        }
        QCOMPARE(defaults, QStringList{defaultButton});
        for (QLineEdit* field : dialog->findChildren<QLineEdit*>()) {
            QCOMPARE(field->echoMode(), QLineEdit::Password);
            QVERIFY(field->inputMethodHints().testFlags(Qt::ImhSensitiveData |
                                                        Qt::ImhNoPredictiveText));
            QCOMPARE(field->maxLength(), kPasswordCapacity - 1);
        }

        // Tab from the first field runs through the controls in template order.
        QStringList order;
        QWidget* const first = QApplication::focusWidget();
        QWidget* at = first;
        do {
            auto* button = qobject_cast<QPushButton*>(at);
            order << (button ? button->text() : at->objectName());
            QTest::keyClick(at, Qt::Key_Tab);
            at = QApplication::focusWidget();
        } while (at && at != first && order.size() <= tabOrder.size());
        QCOMPARE(order, tabOrder);
        // No button beyond the template's; the row spans the field's width.
        QCOMPARE(dialog->findChildren<QPushButton*>().size(),
                 tabOrder.filter(QRegularExpression(QStringLiteral("^&"))).size());
        const QRect field = Field(dialog, "password")->geometry();
        const QRect cancel = Button(dialog, "cancel")->geometry();
        QCOMPARE(Button(dialog, id == 132   ? "decrypt"
                                : id == 114 ? "open"
                                            : "encrypt")
                     ->x(),
                 field.left());
        QCOMPARE(cancel.right(), field.right());
        QVERIFY(cancel.top() > field.bottom());
        Click(dialog, "cancel");
    });
    QCOMPARE(request.result, PasswordDialogResult::Cancelled);
}

void PasswordDialogsTest::encryptDialogOffersTheStoredPassword() {
    PasswordRequest request;
    StorePassword(&request, u"first secret");
    QStringList atEnd;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        WatchFieldsAtEnd(dialog, &atEnd);
        QLineEdit* password = Field(dialog, "password");
        QLineEdit* confirmation = Field(dialog, "confirmation");
        QCOMPARE(password->text(), QStringLiteral("first secret"));
        QVERIFY(confirmation->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), confirmation);
        QTest::keyClicks(confirmation, QStringLiteral("first secret"));
        QTest::keyClick(confirmation, Qt::Key_Return);
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(PasswordText(request), QStringLiteral("first secret"));
    QCOMPARE(atEnd, QStringList(2, QString())); // wiped before the dialog ended

    // After "Decrypt / Open" the dialog waits with both fields filled.
    request.prefill = 1;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        QCOMPARE(Field(dialog, "password")->text(), QStringLiteral("first secret"));
        QCOMPARE(Field(dialog, "confirmation")->text(), QStringLiteral("first secret"));
        QCOMPARE(QApplication::focusWidget(), Button(dialog, "encrypt"));
        QCOMPARE(request.prefill, 0);
        // Enter encrypts at once.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(PasswordText(request), QStringLiteral("first secret"));
}

void PasswordDialogsTest::mismatchRetryKeepsBothEntriesThenCancelEnds() {
    testing_ports::ScriptedMessageBoxes boxes;
    boxes.Answer(plat::kIdRetry);
    boxes.Answer(plat::kIdCancel);
    PasswordRequest request;
    RUN_DIALOG(BatchEncryptDialog, request, [&](QDialog* dialog) {
        QLineEdit* password = Field(dialog, "password");
        QTest::keyClicks(password, QStringLiteral("abc"));
        QTest::keyClicks(Field(dialog, "confirmation"), QStringLiteral("abd"));
        Click(dialog, "encrypt");
        QCOMPARE(boxes.shown().size(), size_t(1));
        QCOMPARE(boxes.shown()[0].text,
                 QStringLiteral("Password and confirmation strings do not match."));
        QCOMPARE(boxes.shown()[0].caption, QStringLiteral("Strings don't match!"));
        QCOMPARE(boxes.shown()[0].style, plat::kMbRetryCancel | plat::kMbIconQuestion);

        QVERIFY(dialog->isVisible());
        QCOMPARE(password->text(), QStringLiteral("abc"));
        QCOMPARE(Field(dialog, "confirmation")->text(), QStringLiteral("abd"));
        QCOMPARE(QApplication::focusWidget(), password);
        QCOMPARE(password->selectedText(), QStringLiteral("abc"));

        Click(dialog, "encrypt"); // mismatch again, answered Cancel
    });
    QCOMPARE(boxes.shown().size(), size_t(2));
    QCOMPARE(boxes.unusedAnswers(), size_t(0));
    QCOMPARE(request.result, PasswordDialogResult::Cancelled);
    QVERIFY(!IsPasswordStored(request));
}

void PasswordDialogsTest::emptyEntriesMakeAMarkedEmptyPassword() {
    PasswordRequest request;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        QTest::keyClick(Field(dialog, "password"), Qt::Key_Return);
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(request.password[0], u'\0');
    QCOMPARE(request.password[1], kEmptyPasswordMark);

    // The empty password is offered again: only the confirmation is asked for.
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        QCOMPARE(QApplication::focusWidget(), Field(dialog, "confirmation"));
        QVERIFY(Field(dialog, "password")->text().isEmpty());
        Click(dialog, "cancel");
    });

    // Decrypting with an empty field gives the same marked password.
    StorePassword(&request, u"other");
    RUN_DIALOG(BatchDecryptDialog, request, [&](QDialog* dialog) {
        QTest::keyClick(Field(dialog, "password"), Qt::Key_Return);
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QVERIFY(IsPasswordStored(request));
    QVERIFY(PasswordText(request).isEmpty());
}

void PasswordDialogsTest::openInTheEncryptDialogOpensThePlainFileAndStays() {
    PasswordRequest request;
    request.plainPath = QStringLiteral("/home/user/Documents/notes.txt");
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        Click(dialog, "open");
        Click(dialog, "open");
        QCOMPARE(opened_, QStringList(2, request.plainPath));
        QVERIFY(dialog->isVisible());
        QCOMPARE(request.result, PasswordDialogResult::AcceptedOpen);
        QTest::keyClicks(Field(dialog, "password"), QStringLiteral("pw"));
        QTest::keyClicks(Field(dialog, "confirmation"), QStringLiteral("pw"));
        Click(dialog, "encrypt");
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);

    // The decrypt dialog's "&Open" only reports the choice; the command opens the file.
    opened_.clear();
    RUN_DIALOG(SingleDecryptDialog, request, [&](QDialog* dialog) {
        QTest::keyClicks(Field(dialog, "password"), QStringLiteral("pw2"));
        Click(dialog, "open");
    });
    QCOMPARE(request.result, PasswordDialogResult::AcceptedOpen);
    QCOMPARE(PasswordText(request), QStringLiteral("pw2"));
    QVERIFY(opened_.isEmpty());

    // An opener that cannot start is told about, over the dialog, which stays.
    SetOpenFileHandler({});
    plat::SetDesktopOpener({QStringLiteral("/nonexistent/opener")});
    const auto restore = qScopeGuard([] { plat::SetDesktopOpener({}); });
    testing_ports::ScriptedMessageBoxes boxes;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        Click(dialog, "open");
        QCOMPARE(boxes.captions(), std::vector<QString>{QStringLiteral("Can't open!")});
        QVERIFY(boxes.shown()[0].text.contains(request.plainPath));
        QVERIFY(dialog->isVisible());
        Click(dialog, "cancel");
    });
}

void PasswordDialogsTest::decryptDialogShowsTheStoredPasswordOnlyWhenPrefilled() {
    PasswordRequest request;
    StorePassword(&request, u"stored");
    QStringList atEnd;
    RUN_DIALOG(SingleDecryptDialog, request, [&](QDialog* dialog) {
        WatchFieldsAtEnd(dialog, &atEnd);
        QLineEdit* password = Field(dialog, "password");
        QVERIFY(password->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), password);
        QTest::keyClicks(password, QStringLiteral("typed"));
        QTest::keyClick(password, Qt::Key_Escape);
    });
    QCOMPARE(request.result, PasswordDialogResult::Cancelled);
    QCOMPARE(PasswordText(request), QStringLiteral("stored"));
    QCOMPARE(atEnd, QStringList(1, QString()));

    // At a retry the last password stands selected, so typing replaces it.
    request.prefill = 1;
    RUN_DIALOG(BatchDecryptDialog, request, [&](QDialog* dialog) {
        QLineEdit* password = Field(dialog, "password");
        QCOMPARE(QApplication::focusWidget(), password);
        QCOMPARE(password->selectedText(), QStringLiteral("stored"));
        QCOMPARE(request.prefill, 0);
        QTest::keyClicks(password, QStringLiteral("new"));
        QTest::keyClick(password, Qt::Key_Return);
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(PasswordText(request), QStringLiteral("new"));
}

void PasswordDialogsTest::helpOpensTheGuideAtTheDialogsAnchor() {
    QStringList anchors;
    SetPasswordHelpHandler([&anchors](QWidget*, const QString& anchor) { anchors << anchor; });
    PasswordRequest request;
    for (const int id : {115, 133, 114, 132}) {
        RUN_DIALOG(id, request, [&](QDialog* dialog) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
            QVERIFY(dialog->isVisible());
            Click(dialog, "cancel");
        });
    }
    QCOMPARE(anchors, (QStringList{"encrypting_with_keshlor", "encrypting_with_keshlor",
                                   "decrypting_with_keshlor", "decrypting_with_keshlor"}));
}

void PasswordDialogsTest::dialogIsCentredAndFollowsTheVisibleArea() {
    PasswordRequest request;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        const QRect visible = dialog->screen()->availableGeometry();
        QPoint off = Imbalance(visible, dialog->frameGeometry());
        QVERIFY2(std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2, "not centred");

        // Still inside the area: re-centred across, left at its height.
        const int height = visible.top() + 5;
        dialog->move(visible.left() + 3, height);
        NotifyPasswordDialogResized();
        off = Imbalance(visible, dialog->frameGeometry());
        QVERIFY(std::abs(off.x()) <= 2);
        QCOMPARE(dialog->frameGeometry().top(), height);

        // Sticking out below the area: centred again.
        dialog->move(visible.left(), visible.bottom() - 10);
        NotifyPasswordDialogResized();
        off = Imbalance(visible, dialog->frameGeometry());
        QVERIFY(std::abs(off.y()) <= 2);
        Click(dialog, "cancel");
    });
}

void PasswordDialogsTest::focusReturnsToTheRememberedControl() {
    PasswordRequest request;
    StorePassword(&request, u"p");
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        QLineEdit* password = Field(dialog, "password");
        QTest::mouseClick(password, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), password);

        // Another window takes the focus, as the main window does when the user
        // switches back to it.
        auto* other = new QLineEdit(dialog);
        other->setWindowFlags(Qt::Window);
        other->show();
        other->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), other);
        other->setFocus();
        QCOMPARE(QApplication::focusWidget(), other);

        FocusPasswordDialog();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTRY_COMPARE(QApplication::focusWidget(), password);
        delete other;
        Click(dialog, "cancel");
    });
}

void PasswordDialogsTest::passwordTheFieldsCannotHoldEndsWithPrefillFailed() {
    for (const int id : {115, 114}) {
        PasswordRequest request;
        std::fill_n(request.password, kPasswordCapacity, u'x'); // no terminator
        request.prefill = 1;
        ModalDriver driver([](QDialog* dialog) { dialog->close(); }, 300);
        QVERIFY(ShowPasswordDialog(nullptr, id, &request));
        QVERIFY(!driver.acted());
        QCOMPARE(request.result, PasswordDialogResult::PrefillFailed);
        QVERIFY(!IsPasswordStored(request));
        QCOMPARE(request.prefill, 0);
    }
}

void PasswordDialogsTest::titleNamesTheFileAndTheFieldsSayWhatTheyAreFor() {
    const QString name = QString(60, QLatin1Char('n')) + QStringLiteral(".txt");
    const PasswordSubject file{QStringLiteral("Encrypt ") + name,
                               QStringLiteral("/home/user/Documents/") + name};
    PasswordRequest request;
    RUN_DIALOG_FOR(SingleEncryptDialog, request, file, [&](QDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), file.title);
        // Too long for the dialog: its middle goes, the verb and extension stay.
        const QLabel* subject = dialog->findChild<QLabel*>(QStringLiteral("subject"));
        QVERIFY(subject->isVisible() && subject->text().size() < file.title.size());
        QVERIFY(subject->text().startsWith(QStringLiteral("Encrypt nn")));
        QVERIFY(subject->text().endsWith(QStringLiteral(".txt")));
        QCOMPARE(subject->toolTip(), file.path);

        const auto nameOf = [](QWidget* widget) {
            return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
        };
        QCOMPARE(nameOf(Field(dialog, "password")), QStringLiteral("Password"));
        QCOMPARE(nameOf(Field(dialog, "confirmation")), QStringLiteral("Confirm password"));
        QCOMPARE(nameOf(dialog), file.title);
        QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("label"))->buddy(),
                 Field(dialog, "password"));
        Click(dialog, "cancel");
    });

    const PasswordSubject batch{QStringLiteral("Decrypt all hidden files"), QString()};
    RUN_DIALOG_FOR(BatchDecryptDialog, request, batch, [&](QDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), batch.title);
        QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("subject"))->text(), batch.title);
        Click(dialog, "cancel");
    });
}

void PasswordDialogsTest::fieldsTakeTheLimitAndSaySoWhenFull() {
    const QString longest = QString(kMaxPasswordUnits - 1, QLatin1Char('p')) + QLatin1Char('q');
    PasswordRequest request;
    RUN_DIALOG(SingleEncryptDialog, request, [&](QDialog* dialog) {
        const QLabel* hint = dialog->findChild<QLabel*>(QStringLiteral("limitHint"));
        const int shortHeight = dialog->height();
        QLineEdit* password = Field(dialog, "password");
        password->setText(longest.chopped(1));
        QVERIFY(!hint->isVisible());
        // One more unit fits; the one after is refused, and the dialog says why.
        QTest::keyClicks(password, QStringLiteral("qr"));
        QCOMPARE(password->text(), longest);
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->text(), QStringLiteral("Password limit reached (1024 characters)"));
        QVERIFY(dialog->height() > shortHeight);
        QVERIFY(dialog->rect().contains(hint->geometry()));
        QTest::keyClick(password, Qt::Key_Backspace);
        QVERIFY(!hint->isVisible());
        QCOMPARE(dialog->height(), shortHeight);

        QTest::keyClick(password, Qt::Key_Q);
        Field(dialog, "confirmation")->setText(longest);
        Click(dialog, "encrypt");
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(PasswordText(request), longest);

    // The longest password is offered again whole, not refused as too long.
    request.prefill = 1;
    RUN_DIALOG(SingleDecryptDialog, request, [&](QDialog* dialog) {
        QCOMPARE(Field(dialog, "password")->text(), longest);
        QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("limitHint"))->isVisible());
        Click(dialog, "decrypt");
    });
    QCOMPARE(request.result, PasswordDialogResult::Accepted);
    QCOMPARE(PasswordText(request), longest);
}

QTEST_MAIN(PasswordDialogsTest)
#include "test_password_dialogs.moc"
