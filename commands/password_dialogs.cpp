#include "commands/password_dialogs.h"

#include "commands/waiting_light.h"
#include "platform/desktop_opener.h"
#include "platform/ports.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QInputMethod>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QSystemTrayIcon>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

enum class Role { Password, Confirmation, Encrypt, Decrypt, Open, Cancel };

struct RoleInfo {
    const char* objectName;
    const char* text;
};

constexpr std::array<RoleInfo, 6> kRoles{{
    {"password", ""},
    {"confirmation", ""},
    {"encrypt", "&Encrypt"},
    {"decrypt", "&Decrypt"},
    {"open", "&Open"},
    {"cancel", "&Cancel"},
}};

const RoleInfo& InfoOf(Role role) {
    return kRoles[size_t(role)];
}

struct ControlSpec {
    Role role;
    int x, y, width, height; // dialog units
};

struct DialogTemplate {
    int id;
    bool encrypt;
    int width, height; // dialog units of the client area
    const char* label;
    Role defaultButton;
    int count;
    std::array<ControlSpec, 5> controls; // in tab order
};

// clang-format off
constexpr std::array<DialogTemplate, 4> kTemplates{{
    {SingleDecryptDialog, false, 120, 41, "Password:", Role::Open, 4,
     {{{Role::Password, 3, 9, 114, 14},
       {Role::Open, 3, 25, 36, 14},
       {Role::Decrypt, 42, 25, 36, 14},
       {Role::Cancel, 81, 25, 36, 14}}}},
    {BatchDecryptDialog, false, 120, 41, "Batch Password:", Role::Decrypt, 3,
     {{{Role::Password, 3, 9, 114, 14},
       {Role::Decrypt, 3, 25, 36, 14},
       {Role::Cancel, 81, 25, 36, 14}}}},
    {SingleEncryptDialog, true, 120, 57, "Password / Confirmation:", Role::Encrypt, 5,
     {{{Role::Password, 3, 9, 114, 14},
       {Role::Confirmation, 3, 25, 114, 14},
       {Role::Encrypt, 3, 41, 36, 14},
       {Role::Open, 42, 41, 36, 14},
       {Role::Cancel, 81, 41, 36, 14}}}},
    {BatchEncryptDialog, true, 120, 57, "Batch Password / Confirmation:", Role::Encrypt, 4,
     {{{Role::Password, 3, 9, 114, 14},
       {Role::Confirmation, 3, 25, 114, 14},
       {Role::Encrypt, 3, 41, 36, 14},
       {Role::Cancel, 81, 41, 36, 14}}}},
}};
// clang-format on

// The static text above the fields, the same in every dialog.
constexpr ControlSpec kLabel{Role::Password, 3, 1, 114, 8};
// Above the template's controls, which move down by its height: the title,
// naming the file the password is for.
constexpr ControlSpec kSubject{Role::Password, 3, 1, 114, 8};
constexpr int kSubjectRows = 10;
// Below them, shown only while a field is full; the dialog grows by its height.
constexpr int kHintRows = 10;

const DialogTemplate* FindTemplate(int id) {
    for (const DialogTemplate& form : kTemplates) {
        if (form.id == id)
            return &form;
    }
    return nullptr;
}

// Dialog units of the dialog's font, computed the way the templates were laid
// out: a quarter of the average letter width across, an eighth of the height down.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX_ = std::max(1, (letters / 26 + 1) / 2);
        baseY_ = std::max(1, metrics.height());
    }
    int X(int units) const { return (units * baseX_ + 2) / 4; }
    int Y(int units) const { return (units * baseY_ + 4) / 8; }
    // Edges are mapped, not sizes, so that controls that touch in units touch in pixels.
    QRect Map(int x, int y, int width, int height, int offset) const {
        return QRect(QPoint(X(x) + offset, Y(y) + offset),
                     QPoint(X(x + width) + offset - 1, Y(y + height) + offset - 1));
    }

  private:
    int baseX_ = 1;
    int baseY_ = 1;
};

// The room around the controls, inside the window's frame.
constexpr int kFrameWidth = 3;

OpenFileHandler& OpenHandler() {
    static OpenFileHandler handler;
    return handler;
}

PasswordHelpHandler& HelpHandler() {
    static PasswordHelpHandler handler;
    return handler;
}

NotificationIconSource& IconSource() {
    static NotificationIconSource source;
    return source;
}

QIcon NotificationIcon() {
    if (IconSource())
        return IconSource()();
    return QIcon::fromTheme(QStringLiteral("dialog-password"),
                            QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion));
}

// The password the field holds lives on in the field's own buffer until the
// field lets go of it; taking over that buffer lets it be zeroed first.
void WipeField(QLineEdit* field) {
    if (!field)
        return;
    // No edit of the user's: nothing that follows the field's text hears it.
    const QSignalBlocker quiet(field);
    QString held = field->text();
    field->setText(QString(held.size(), QLatin1Char('*')));
    field->clear();
    plat::ForgetSecret(&held);
}

QString LimitHintText() {
    return QStringLiteral("Password limit reached (%1 characters)").arg(kMaxPasswordUnits);
}

// Copies the field into a buffer of kPasswordCapacity units, terminated.
void ReadField(const QLineEdit* field, char16_t* buffer) {
    const QString text = field->text();
    const qsizetype length = std::min<qsizetype>(text.size(), kPasswordCapacity - 1);
    std::copy_n(text.utf16(), length, buffer);
    buffer[length] = u'\0';
}

class PasswordDialog;

// The dialog that is open and the control that has or last had its focus.
QPointer<PasswordDialog> g_openPasswordDialog;
QPointer<QWidget> g_rememberedControl;

class PasswordDialog : public QDialog {
    Q_OBJECT

  public:
    PasswordDialog(QWidget* owner, const DialogTemplate& form, PasswordRequest* request,
                   const PasswordSubject& subject)
        // A normal frame: the title names the command and file, and the
        // window can be moved off what the user wants to see.
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
          request_(request), anchor_(QLatin1String(form.encrypt ? "encrypting_with_keshlor"
                                                                : "decrypting_with_keshlor")),
          tip_(QLatin1String(form.encrypt ? "Encrypt with Keshlor" : "Decrypt with Keshlor")) {
        setObjectName(QStringLiteral("PasswordDialog%1").arg(form.id));
        // Window lists and screen readers name the dialog by its title.
        setWindowTitle(subject.title.isEmpty() ? tip_ : subject.title);
        Build(form, subject.path);

        // Button face behind the static text and the buttons; the fields keep their colours.
        QPalette colours = palette();
        colours.setColor(QPalette::Window, colours.color(QPalette::Button));
        colours.setColor(QPalette::WindowText, colours.color(QPalette::ButtonText));
        setPalette(colours);

        auto* help = new QShortcut(QKeySequence::HelpContents, this);
        connect(help, &QShortcut::activated, this, [this] {
            if (HelpHandler())
                HelpHandler()(this, anchor_);
        });
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now && g_openPasswordDialog == this && isAncestorOf(now))
                g_rememberedControl = now;
        });
        connect(cancel_, &QPushButton::clicked, this, &PasswordDialog::reject);
    }

    ~PasswordDialog() override {
        Forget();
        if (QInputMethod* panel = QGuiApplication::inputMethod())
            panel->hide();
        delete tray_;
        if (ledStarted_)
            RestoreWaitingLight(savedLed_);
        WipeField(password_);
        WipeField(confirmation_);
    }

    // Fills the fields and sets the focus from the request. False when the
    // stored password could not be shown: the dialog has then ended.
    virtual bool Initialise() = 0;

    // The dialog is ready: it shows itself in the notification area, sets the
    // LED blinking and becomes the open dialog.
    void StartWaiting() {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            tray_ = new QSystemTrayIcon(NotificationIcon(), this);
            tray_->setToolTip(tip_);
            connect(tray_, &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        if (reason == QSystemTrayIcon::Trigger)
                            BringToFront();
                    });
            tray_->show();
        }
        ledStarted_ = StartWaitingLight(&savedLed_);
        g_openPasswordDialog = this;
    }

    void Reposition() {
        if (positioned_)
            PositionAboveInputPanel(this, &positioned_);
    }

    void BringToFront() {
        raise();
        activateWindow();
    }

    void done(int) override {
        Forget();
        WipeField(password_);
        WipeField(confirmation_);
        QDialog::done(0);
    }

    void reject() override { EndWith(PasswordDialogResult::Cancelled); }

  protected:
    void EndWith(PasswordDialogResult result) {
        request_->result = result;
        done(0);
    }

    // Putting the stored password into a field; false when the field cannot
    // hold all of it.
    bool ShowStoredPassword(QLineEdit* field) {
        QString stored = PasswordText(*request_);
        field->setText(stored);
        const bool whole = field->text() == stored;
        plat::ForgetSecret(&stored);
        return whole;
    }

    bool FailPrefill() {
        ClearPassword(request_);
        request_->prefill = 0;
        EndWith(PasswordDialogResult::PrefillFailed);
        return false;
    }

    void FocusField(QLineEdit* field) {
        field->setFocus();
        field->selectAll();
    }

    void showEvent(QShowEvent* event) override {
        if (!event->spontaneous() && !positioned_)
            PositionAboveInputPanel(this, &positioned_);
        QDialog::showEvent(event);
        if (!event->spontaneous()) {
            // The screen's usable area also changes when a panel or an
            // on-screen keyboard comes or goes, not only with the main window.
            if (QScreen* screen = this->screen())
                connect(screen, &QScreen::availableGeometryChanged, this,
                        &PasswordDialog::Reposition, Qt::UniqueConnection);
            QApplication::alert(this);
        }
    }

    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate)
            Reposition();
        return QDialog::event(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == password_ || watched == confirmation_) {
            // Word completion stays off through the fields' input-method hints.
            if (event->type() == QEvent::FocusIn) {
                if (QInputMethod* panel = QGuiApplication::inputMethod())
                    panel->show();
                PositionAboveInputPanel(this, &positioned_);
            } else if (event->type() == QEvent::FocusOut) {
                if (QInputMethod* panel = QGuiApplication::inputMethod())
                    panel->hide();
            }
        }
        return QDialog::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().button());
    }

    PasswordRequest* request_;
    QLineEdit* password_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
    QPushButton* encrypt_ = nullptr;
    QPushButton* decrypt_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool positioned_ = false;

  private:
    void Build(const DialogTemplate& form, const QString& path) {
        const DialogUnits units(font());
        const auto place = [&units](const ControlSpec& spec, int down) {
            return units.Map(spec.x, spec.y + down, spec.width, spec.height, kFrameWidth);
        };
        const int height = form.height + kSubjectRows;
        shortHeight_ = units.Y(height) + 2 * kFrameWidth;
        grownHeight_ = units.Y(height + kHintRows) + 2 * kFrameWidth;
        setFixedSize(units.X(form.width) + 2 * kFrameWidth, shortHeight_);

        QWidget* previous = nullptr;
        for (int i = 0; i < form.count; ++i) {
            const ControlSpec& spec = form.controls[size_t(i)];
            QWidget* control = nullptr;
            if (spec.role == Role::Password || spec.role == Role::Confirmation) {
                auto* field = new QLineEdit(this);
                field->setEchoMode(QLineEdit::Password);
                field->setMaxLength(kMaxPasswordUnits);
                field->setInputMethodHints(field->inputMethodHints() | Qt::ImhSensitiveData |
                                           Qt::ImhNoPredictiveText);
                field->setAccessibleName(spec.role == Role::Password
                                             ? QStringLiteral("Password")
                                             : QStringLiteral("Confirm password"));
                field->installEventFilter(this);
                connect(field, &QLineEdit::textChanged, this, &PasswordDialog::ShowLimitHint);
                (spec.role == Role::Password ? password_ : confirmation_) = field;
                control = field;
            } else {
                auto* button = new QPushButton(QString::fromLatin1(InfoOf(spec.role).text), this);
                button->setDefault(spec.role == form.defaultButton);
                switch (spec.role) {
                case Role::Encrypt:
                    encrypt_ = button;
                    break;
                case Role::Decrypt:
                    decrypt_ = button;
                    break;
                case Role::Open:
                    open_ = button;
                    break;
                default:
                    cancel_ = button;
                    break;
                }
                control = button;
            }
            control->setObjectName(QLatin1String(InfoOf(spec.role).objectName));
            control->setGeometry(place(spec, kSubjectRows));
            if (previous)
                setTabOrder(previous, control);
            previous = control;
        }
        auto* label = new QLabel(QString::fromLatin1(form.label), this);
        label->setObjectName(QStringLiteral("label"));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(place(kLabel, kSubjectRows));
        label->setBuddy(password_);

        auto* subject = new QLabel(this);
        subject->setObjectName(QStringLiteral("subject"));
        QFont bold = subject->font();
        bold.setBold(true);
        subject->setFont(bold);
        subject->setGeometry(place(kSubject, 0));
        // A long name loses its middle, so that its start and its extension stay.
        subject->setText(
            subject->fontMetrics().elidedText(windowTitle(), Qt::ElideMiddle, subject->width()));
        subject->setAccessibleName(windowTitle());
        subject->setToolTip(path.isEmpty() ? windowTitle() : path);

        hint_ = new QLabel(LimitHintText(), this);
        hint_->setObjectName(QStringLiteral("limitHint"));
        hint_->setGeometry(units.Map(kLabel.x, height, kLabel.width, kLabel.height, kFrameWidth));
        hint_->hide();
    }

    // A full field takes no more input; the dialog says so rather than let
    // further keys vanish.
    void ShowLimitHint() {
        const auto full = [](const QLineEdit* field) {
            return field && field->text().size() >= kMaxPasswordUnits;
        };
        const bool show = full(password_) || full(confirmation_);
        if (show == !hint_->isHidden())
            return;
        hint_->setVisible(show);
        setFixedHeight(show ? grownHeight_ : shortHeight_);
        Reposition();
    }

    void Forget() {
        if (g_openPasswordDialog == this)
            g_openPasswordDialog = nullptr;
        if (g_rememberedControl &&
            (g_rememberedControl == this || isAncestorOf(g_rememberedControl)))
            g_rememberedControl = nullptr;
    }

    QString anchor_;
    QString tip_;
    QLabel* hint_ = nullptr;
    int shortHeight_ = 0;
    int grownHeight_ = 0;
    QSystemTrayIcon* tray_ = nullptr;
    LedSettings savedLed_;
    bool ledStarted_ = false;
};

// The encrypt dialogs, single file and batch: password and confirmation.
class EncryptPasswordDialog : public PasswordDialog {
    Q_OBJECT

  public:
    EncryptPasswordDialog(QWidget* owner, const DialogTemplate& form, PasswordRequest* request,
                          const PasswordSubject& subject)
        : PasswordDialog(owner, form, request, subject) {
        connect(encrypt_, &QPushButton::clicked, this, &EncryptPasswordDialog::Encrypt);
        if (open_)
            connect(open_, &QPushButton::clicked, this, &EncryptPasswordDialog::Open);
    }

    bool Initialise() override {
        positioned_ = false;
        const bool prefill = request_->prefill != 0;
        request_->prefill = 0;
        if (IsPasswordStored(*request_)) {
            if (!ShowStoredPassword(password_))
                return FailPrefill();
            if (!prefill) {
                // The previous password stands; the user retypes it to confirm.
                FocusField(confirmation_);
            } else {
                if (!ShowStoredPassword(confirmation_))
                    return FailPrefill();
                g_rememberedControl = encrypt_;
                PositionAboveInputPanel(this, &positioned_);
                encrypt_->setFocus();
            }
        } else {
            FocusField(password_);
        }
        request_->result = PasswordDialogResult::Cancelled;
        return true;
    }

  private:
    void Encrypt() {
        char16_t typed[kPasswordCapacity];
        char16_t confirmed[kPasswordCapacity];
        ReadField(password_, typed);
        ReadField(confirmation_, confirmed);
        const std::u16string_view typedView(typed);
        const bool match = typedView == std::u16string_view(confirmed);
        if (match)
            StorePassword(request_, QStringView(typedView.data(), qsizetype(typedView.size())));
        plat::SecureZero(typed, sizeof typed);
        plat::SecureZero(confirmed, sizeof confirmed);
        if (match) {
            EndWith(PasswordDialogResult::Accepted);
            return;
        }
        const int answer = plat::MessageBox(
            static_cast<QWidget*>(this),
            QStringLiteral("Password and confirmation strings do not match."),
            QStringLiteral("Strings don't match!"), plat::kMbRetryCancel | plat::kMbIconQuestion);
        if (answer != plat::kIdRetry) {
            EndWith(PasswordDialogResult::Cancelled);
            return;
        }
        FocusField(password_);
        g_rememberedControl = password_;
    }

    // Lets the user look at the plain file again before it is encrypted.
    void Open() {
        OpenFileWithShell(this, request_->plainPath);
        request_->result = PasswordDialogResult::AcceptedOpen;
    }
};

// The decrypt dialogs, single file and batch: one password.
class DecryptPasswordDialog : public PasswordDialog {
    Q_OBJECT

  public:
    DecryptPasswordDialog(QWidget* owner, const DialogTemplate& form, PasswordRequest* request,
                          const PasswordSubject& subject)
        : PasswordDialog(owner, form, request, subject) {
        connect(decrypt_, &QPushButton::clicked, this,
                [this] { Take(PasswordDialogResult::Accepted); });
        if (open_)
            connect(open_, &QPushButton::clicked, this,
                    [this] { Take(PasswordDialogResult::AcceptedOpen); });
    }

    bool Initialise() override {
        positioned_ = false;
        if (request_->prefill != 0) {
            if (IsPasswordStored(*request_) && !ShowStoredPassword(password_))
                return FailPrefill();
            request_->prefill = 0;
        }
        request_->result = PasswordDialogResult::Cancelled;
        FocusField(password_);
        return true;
    }

    void done(int code) override {
        request_->prefill = 0;
        PasswordDialog::done(code);
    }

  private:
    void Take(PasswordDialogResult result) {
        {
            // Let go of the text before the field is wiped, so the wipe reaches it.
            const QString typed = password_->text();
            StorePassword(request_, typed);
        }
        EndWith(result);
    }
};

} // namespace

bool ShowPasswordDialog(QWidget* owner, int dialogId, PasswordRequest* request,
                        const PasswordSubject& subject) {
    const DialogTemplate* form = FindTemplate(dialogId);
    if (!form || !request || g_openPasswordDialog)
        return false;
    QPointer<PasswordDialog> dialog;
    if (form->encrypt)
        dialog = new EncryptPasswordDialog(owner, *form, request, subject);
    else
        dialog = new DecryptPasswordDialog(owner, *form, request, subject);
    if (dialog->Initialise()) {
        dialog->StartWaiting();
        dialog->exec();
    }
    // The owner may have taken the dialog with it while it was open.
    delete dialog.data();
    return true;
}

void NotifyPasswordDialogResized() {
    if (g_openPasswordDialog)
        g_openPasswordDialog->Reposition();
}

void FocusPasswordDialog() {
    QWidget* control = g_rememberedControl;
    if (!control)
        return;
    control->window()->activateWindow();
    control->setFocus(Qt::OtherFocusReason);
}

void SetOpenFileHandler(OpenFileHandler handler) {
    OpenHandler() = std::move(handler);
}

bool OpenFileWithShell(QWidget* owner, const QString& path) {
    QString reason;
    const bool opened =
        OpenHandler() ? OpenHandler()(path, &reason) : plat::OpenWithDesktop(path, &reason);
    if (!opened) {
        // Said now: the encrypt dialog that follows must not wait on a file
        // the user never saw.
        plat::MessageBox(
            owner,
            QStringLiteral("Keshlor could not open \u201c%1\u201d in its application.\n%2")
                .arg(path, reason),
            QStringLiteral("Can't open!"), plat::kMbOk | plat::kMbIconExclamation);
    }
    return opened;
}

void SetPasswordHelpHandler(PasswordHelpHandler handler) {
    HelpHandler() = std::move(handler);
}

void SetPasswordNotificationIcon(NotificationIconSource source) {
    IconSource() = std::move(source);
}

QPoint PlaceInVisibleArea(const QRect& window, const QRect& visible, const QPoint& screenOrigin,
                          bool positioned) {
    // Relative to the screen, with the right and bottom edges just outside
    // the area, so that "0" is the screen's own edge on any screen.
    const int left = visible.left() - screenOrigin.x();
    const int right = left + visible.width();
    const int top = visible.top() - screenOrigin.y();
    const int bottom = top + visible.height();
    const int width = window.width();
    const int height = window.height();

    const int x = left + right > width + 1 ? (left + right - width - 1) / 2 : 0;
    int y = window.top() - screenOrigin.y();
    if (!positioned || y < top || y + height > bottom)
        y = top + bottom > height + 1 ? (top + bottom - height - 1) / 2 : 0;
    return screenOrigin + QPoint(x, y);
}

void PositionAboveInputPanel(QWidget* window, bool* positioned) {
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    const QRect visible = screen->availableGeometry();
    if (visible.isEmpty())
        return;
    window->move(PlaceInVisibleArea(window->frameGeometry(), visible, screen->geometry().topLeft(),
                                    *positioned));
    *positioned = true;
}

#include "password_dialogs.moc"
