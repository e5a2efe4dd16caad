#include "command_fixture.h"

#include "browser/file_list.h"
#include "commands/file_commands.h"
#include "engine/encrypt_pipeline.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace command_testing {

DialogScript::DialogScript(std::vector<Step> steps, int timeoutMs)
    : steps_(std::move(steps)), timeoutMs_(timeoutMs) {
    clock_.start();
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
}

void DialogScript::Tick() {
    QWidget* open = QApplication::activeModalWidget();
    if (open && open != last_ && open->isVisible() && open->isActiveWindow()) {
        last_ = open;
        clock_.restart();
        if (acted_ < steps_.size()) {
            steps_[acted_++](open);
        } else {
            ++extra_;
            open->close();
        }
        return;
    }
    if (open && clock_.elapsed() > timeoutMs_) {
        timedOut_ = true;
        open->close();
    }
}

QLineEdit* Field(QWidget* dialog, const char* name) {
    return dialog->findChild<QLineEdit*>(QLatin1String(name));
}

QPushButton* Button(QWidget* dialog, const char* name) {
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

void Click(QWidget* dialog, const char* name) {
    QTest::mouseClick(Button(dialog, name), Qt::LeftButton);
}

void TypePassword(QWidget* dialog, const QString& password) {
    for (const char* name : {"password", "confirmation"}) {
        if (QLineEdit* field = Field(dialog, name)) {
            field->clear();
            QTest::keyClicks(field, password);
        }
    }
}

DialogScript::Step Accept(const QString& password) {
    return [password](QWidget* dialog) {
        TypePassword(dialog, password);
        Click(dialog, Button(dialog, "encrypt") ? "encrypt" : "decrypt");
    };
}

DialogScript::Step Cancel() {
    return [](QWidget* dialog) { Click(dialog, "cancel"); };
}

QString Documents(const QString& name) {
    return browser_testing::DocumentsFolder() + QLatin1Char('/') + name;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool Exists(const QString& path) {
    return QFile::exists(path);
}

QStringList Leftovers() {
    return QDir(browser_testing::DocumentsFolder())
        .entryList({QStringLiteral(".keshlor-*")}, QDir::Files | QDir::Hidden);
}

void UseCommandOptions(testing_ports::OptionValues& options) {
    browser_testing::ResetOptions(options);
    options.Set(HideEncrypted, false);
    options.Set(WipePlainFiles, false);
}

void StartCommandTest(testing_ports::OptionValues& options,
                      std::unique_ptr<testing_ports::ScriptedMessageBoxes>* boxes) {
    browser_testing::ResetHome();
    UseCommandOptions(options);
    *boxes = std::make_unique<testing_ports::ScriptedMessageBoxes>();
    ClearPassword(&SharedPasswordRequest());
}

QString MakeContainer(testing_ports::OptionValues& options, const QString& name,
                      const QByteArray& content, const QString& password, bool high, bool hidden) {
    const QString plain = browser_testing::WriteFile(Documents(name), content);
    options.Set(HighEncryption, high);
    options.Set(HideEncrypted, hidden);
    const EncryptResult result =
        EncryptFileToContainer(nullptr, plain, plain + QStringLiteral(".ksr"), password);
    options.Set(HighEncryption, true);
    options.Set(HideEncrypted, false);
    if (result != EncryptResult::Ok)
        qFatal("cannot make the container of %s", qPrintable(plain));
    return plain + QStringLiteral(".ksr");
}

int RowOf(QTreeWidget* list, const QString& text, bool encrypted) {
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(0) == text && IsItemEncrypted(row) == encrypted)
            return row;
    }
    return -1;
}

ItemMark MarkOf(QTreeWidget* list, int row) {
    const int state = list->topLevelItem(row)->data(0, kItemStateRole).toInt();
    return static_cast<ItemMark>(state >> 12);
}

} // namespace command_testing
