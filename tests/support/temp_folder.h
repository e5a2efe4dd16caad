#pragma once
// Files for tests in a fresh temporary folder.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testing_files {

class TempFolder {
  public:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString root() const { return dir_.path(); }
    bool valid() const { return dir_.isValid(); }
    // Writes `content` to `name` and returns its full path.
    QString Write(const QString& name, const QByteArray& content) const;

  private:
    QTemporaryDir dir_;
};

QByteArray ReadAll(const QString& path);
bool Exists(const QString& path);
// Bytes that deflate barely shrinks, from a fixed seed.
QByteArray NoiseBytes(qsizetype size, quint32 seed = 1);
// Text that deflate shrinks well.
QByteArray TextBytes(qsizetype size);
// The shared known-answer vectors.
QString VectorsFolder();

} // namespace testing_files
