#include "gui_test_support.h"

#include "app/main_window.h"
#include "app/program_hooks.h"
#include "commands/work_progress.h"
#include "gui/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QSettings>

#include <memory>

#include <unistd.h>

GuiTestEnvironment::GuiTestEnvironment() {
    // The layers joined as the program joins them at start-up.
    InstallProgramHooks();
    const QDir root(dir_.path());
    const auto folder = [&root](const char* name) {
        root.mkpath(QLatin1String(name));
        return root.filePath(QLatin1String(name)).toLocal8Bit();
    };
    qputenv("HOME", dir_.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", folder("config"));
    qputenv("XDG_DATA_HOME", folder("data"));
    qputenv("XDG_CACHE_HOME", folder("cache"));
    const QByteArray runtime = folder("runtime");
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime);
    folder("Documents");
    qputenv("KESHLOR_INSTANCE", "test-" + QByteArray::number(getpid()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

namespace {

QSettings* OpenStore() {
    return new QSettings(QString::fromLatin1(kSettingsOrganization),
                         QString::fromLatin1(kSettingsApplication));
}

} // namespace

QString StoreFileName() {
    const std::unique_ptr<QSettings> store(OpenStore());
    return store->fileName();
}

void RemoveStore() {
    QFile::remove(StoreFileName());
}

void WriteStoreValue(const QString& name, const QVariant& value) {
    const std::unique_ptr<QSettings> store(OpenStore());
    store->setValue(name, value);
    store->sync();
}

QVariant StoredValue(const QString& name) {
    const std::unique_ptr<QSettings> store(OpenStore());
    return store->value(name);
}

bool StoreHas(const QString& name) {
    const std::unique_ptr<QSettings> store(OpenStore());
    return store->contains(name);
}

ScopedMainWindow::ScopedMainWindow() : window_(CreateMainWindow({}, nullptr)) {}

ScopedMainWindow::~ScopedMainWindow() {
    delete window_.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool ScopedMainWindow::ShowActive() {
    window_->resize(480, 640);
    window_->show();
    window_->activateWindow();
    return QTest::qWaitForWindowActive(window_.data());
}

void DoubleClick(QWidget* widget, const QPoint& pos) {
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

ModalDriver::ModalDriver(std::function<void(QWidget*)> act, int timeoutMs)
    : act_(std::move(act)), timeoutMs_(timeoutMs) {
    clock_.start();
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
}

ModalDriver::~ModalDriver() {
    timer_.stop();
}

void ModalDriver::Tick() {
    QWidget* open = QApplication::activePopupWidget();
    if (!open)
        open = QApplication::activeModalWidget();
    if (!acted_ && open && open->isVisible()) {
        acted_ = true;
        act_(open);
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

QByteArray RandomBytes(int size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator random(5);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

RunMidway::RunMidway(std::function<void()> act) : act_(std::move(act)) {
    SetProgressTiming({0, 0});
    qApp->installEventFilter(this);
}

RunMidway::~RunMidway() {
    qApp->removeEventFilter(this);
    SetProgressTiming({});
}

bool RunMidway::eventFilter(QObject* watched, QEvent* event) {
    if (!queued_ && event->type() == QEvent::Paint &&
        watched->objectName() == QLatin1String("workProgress")) {
        const auto* bar = static_cast<QProgressBar*>(watched);
        if (bar->value() < bar->maximum()) {
            queued_ = true;
            // Not in the middle of a paint: from the loop, as a user's act would come.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    acted_ = true;
                    act_();
                },
                Qt::QueuedConnection);
        }
    }
    return false;
}

void UsePictureHome(const QTemporaryDir& home, const char* instance) {
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("KESHLOR_INSTANCE", instance);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void UseDesktopIconTheme() {
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
}
