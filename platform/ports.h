#pragma once
// The few services the engine needs from the program it runs in. The GUI sets
// them to widgets and menu check marks, ksr to the terminal, tests to doubles.
#include <QString>
#include <cstdint>
#include <functional>

namespace plat {

// Owner window of a message box; opaque below the GUI.
using WindowHandle = void*;

// Message box styles and answers with the platform's values.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbButtonMask = 0xF;
inline constexpr uint32_t kMbIconHand = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr uint32_t kMbIconMask = 0xF0;
inline constexpr uint32_t kMbDefButton2 = 0x100;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

using MessageBoxPort = std::function<int(WindowHandle owner, const QString& text,
                                         const QString& caption, uint32_t style)>;
using OptionPort = std::function<int(uint16_t commandId)>;

// The wait cursor: show returns a token for the cursor it replaced.
struct CursorPort {
    std::function<intptr_t()> showWait;
    std::function<void(intptr_t previous)> restore;
};

// Installs a port; an empty function restores the built-in fallback (message
// boxes answer as Cancel/No would, options report their defaults, no cursor).
// Never while a RunReadsPorts lives.
void SetMessageBoxPort(MessageBoxPort port);
void SetOptionPort(OptionPort port);
void SetCursorPort(CursorPort port);
// The ports in place, for a caller that stands in front of them for a while.
MessageBoxPort CurrentMessageBoxPort();
OptionPort CurrentOptionPort();
CursorPort CurrentCursorPort();

// The ports are process globals that a run on another thread reads while
// one of these lives (the GUI's run thread holds one for its run), so none
// may be set meanwhile, on any thread: the run would read one half replaced.
// Debug builds stop at once where a port is set then, or where a second one
// is made.
class RunReadsPorts {
  public:
    RunReadsPorts();
    ~RunReadsPorts();
    RunReadsPorts(const RunReadsPorts&) = delete;
    RunReadsPorts& operator=(const RunReadsPorts&) = delete;
};
// Whether a RunReadsPorts lives.
bool PortsReadByRun();

int MessageBox(WindowHandle owner, const QString& text, const QString& caption, uint32_t style);
intptr_t ShowWaitCursor();
void RestoreCursor(intptr_t previous);

// The answer a message box gives when nobody can be asked: the safe one.
int SafeAnswer(uint32_t style);

// How far a long run has got: `done` of `total` bytes, reported once per chunk.
// Only a notice; it cannot stop or change the run. Without a port nobody hears it.
using ProgressPort = std::function<void(uint64_t done, uint64_t total)>;
void SetProgressPort(ProgressPort port);
ProgressPort CurrentProgressPort();
void ReportProgress(uint64_t done, uint64_t total);

} // namespace plat

// Command IDs of the eight options; the option's identity everywhere.
enum OptionId : uint16_t {
    ShowDate = 40041,
    ShowSize = 40042,
    ShowRootFolder = 40030,
    RememberFolder = 40029,
    HighEncryption = 40047,
    FastCompression = 40028,
    HideEncrypted = 40046,
    WipePlainFiles = 40048,
};

// 1 when the option is on, 0 when off, as the program's Options menu says.
int IsOptionChecked(uint16_t commandId);
