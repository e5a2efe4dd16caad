#pragma once
// Test doubles for the engine's ports: scripted message-box answers with a
// record of everything shown, option values, and a counting wait cursor.
#include "platform/ports.h"

#include <QString>

#include <deque>
#include <map>
#include <vector>

namespace testing_ports {

struct ShownMessage {
    QString text;
    QString caption;
    uint32_t style = 0;
};

// Installed for its lifetime. Answers to questions are taken in order; a
// question shown with no answer queued gets the safe answer and counts as
// unexpected. Plain notices (an OK button only) are answered OK.
class ScriptedMessageBoxes {
  public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    void Answer(int answer) { answers_.push_back(answer); }
    const std::vector<ShownMessage>& shown() const { return shown_; }
    int unexpected() const { return unexpected_; }
    size_t unusedAnswers() const { return answers_.size(); }
    void Forget() {
        shown_.clear();
        unexpected_ = 0;
    }
    // The captions shown so far, in order.
    std::vector<QString> captions() const;

  private:
    std::deque<int> answers_;
    std::vector<ShownMessage> shown_;
    int unexpected_ = 0;
};

// Every option on by default, as the program's menu template has them.
class OptionValues {
  public:
    OptionValues();
    ~OptionValues();
    void Set(uint16_t id, bool on) { values_[id] = on ? 1 : 0; }
    // The options of a known setting in one call.
    void Configure(bool high, bool fast, bool hide, bool wipe);

  private:
    std::map<uint16_t, int> values_;
};

class WaitCursorCounter {
  public:
    WaitCursorCounter();
    ~WaitCursorCounter();
    int shown() const { return shown_; }
    int restored() const { return restored_; }

  private:
    int shown_ = 0;
    int restored_ = 0;
};

} // namespace testing_ports
