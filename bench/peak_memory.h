#pragma once
// Runs a program as a child and reports its peak resident memory.
#include <QString>
#include <QStringList>

namespace bench {

struct ChildRun {
    bool measured = false;
    int exitCode = -1; // -1 when the child did not exit normally
    long peakKiB = 0;  // ru_maxrss of the child alone
};

// Runs `program` through `launcher` (keshlor_run_measured), which writes its
// findings to `resultPath`. Standard input comes from `input` and standard
// output goes to `output`, /dev/null where either is empty.
ChildRun RunMeasured(const QString& launcher, const QString& resultPath, const QString& program,
                     const QStringList& arguments, const QString& input = QString(),
                     const QString& output = QString());

} // namespace bench
