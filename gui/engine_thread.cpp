#include "gui/engine_thread.h"

#include "engine/error_report.h"
#include "gui/options.h"
#include "platform/ports.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>

namespace {

bool OnGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs `call` on the thread of `context` (the GUI thread) and waits for it.
void CallOnGuiThread(QObject* context, const std::function<void()>& call) {
    if (OnGuiThread())
        call();
    else
        QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
}

// Stands in front of the GUI thread's ports for the length of one run.
class RunPorts {
  public:
    RunPorts(QObject* context, int progressIntervalMs)
        : messageBox_(plat::CurrentMessageBoxPort()), options_(plat::CurrentOptionPort()),
          cursor_(plat::CurrentCursorPort()), progress_(plat::CurrentProgressPort()),
          progressIntervalMs_(progressIntervalMs) {
        std::map<uint16_t, int> values;
        for (const OptionValue& option : kOptionLoadOrder)
            values[option.id] = IsOptionChecked(option.id);
        plat::SetOptionPort([values](uint16_t id) {
            const auto found = values.find(id);
            return found != values.end() ? found->second : 1;
        });
        if (messageBox_) {
            plat::SetMessageBoxPort([this, context](plat::WindowHandle owner, const QString& text,
                                                    const QString& caption, uint32_t style) {
                int answer = plat::SafeAnswer(style);
                CallOnGuiThread(context,
                                [&] { answer = messageBox_(owner, text, caption, style); });
                return answer;
            });
        }
        if (cursor_.showWait && cursor_.restore) {
            plat::SetCursorPort({[this, context] {
                                     intptr_t previous = 0;
                                     CallOnGuiThread(context,
                                                     [&] { previous = cursor_.showWait(); });
                                     return previous;
                                 },
                                 [this, context](intptr_t previous) {
                                     CallOnGuiThread(context, [&] { cursor_.restore(previous); });
                                 }});
        }
        if (progress_) {
            plat::SetProgressPort([this, context](uint64_t done, uint64_t total) {
                if (ProgressDue(done, total))
                    CallOnGuiThread(context, [&] { progress_(done, total); });
            });
        }
    }
    ~RunPorts() {
        plat::SetMessageBoxPort(messageBox_);
        plat::SetOptionPort(options_);
        plat::SetCursorPort(cursor_);
        plat::SetProgressPort(progress_);
    }
    RunPorts(const RunPorts&) = delete;
    RunPorts& operator=(const RunPorts&) = delete;

  private:
    // A round trip to the GUI thread for each piece would slow a long run
    // down for nothing the eye could see; the last report tells the run is
    // past its data, which the display must know.
    bool ProgressDue(uint64_t done, uint64_t total) {
        if (done >= total || !sinceProgress_.isValid() ||
            sinceProgress_.elapsed() >= progressIntervalMs_) {
            sinceProgress_.start();
            return true;
        }
        return false;
    }

    const plat::MessageBoxPort messageBox_;
    const plat::OptionPort options_;
    const plat::CursorPort cursor_;
    const plat::ProgressPort progress_;
    const int progressIntervalMs_;
    QElapsedTimer sinceProgress_; // on the run's thread only
};

} // namespace

int RunOffGuiThread(const std::function<int()>& work, int progressIntervalMs, EscapedRun escaped) {
    QObject context; // the run's calls are queued to it, on the GUI thread
    const RunPorts ports(&context, progressIntervalMs);
    const plat::RunReadsPorts reading;
    std::atomic<bool> done{false};
    int result = 0;
    const auto contained = [&] { return ContainEscapes(escaped.result, escaped.code, work); };
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        result = contained();
        done.store(true);
        // Wakes the wait below, which may be asleep until an event comes.
        QMetaObject::invokeMethod(
            &context, [] {}, Qt::QueuedConnection);
    }));
    thread->setObjectName(QStringLiteral("engine run"));
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        // No thread to be had: the run holds the GUI thread as it always could.
        result = contained();
        done.store(true);
    }
    // Also once the application has been told to quit: the run may still ask
    // a port (whose dialogs then end at once) and must end before its files go.
    while (!done.load())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    thread->wait();
    return result;
}
