#include "port_doubles.h"

namespace testing_ports {

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    plat::SetMessageBoxPort(
        [this](plat::WindowHandle, const QString& text, const QString& caption, uint32_t style) {
            shown_.push_back({text, caption, style});
            if ((style & plat::kMbButtonMask) == plat::kMbOk)
                return plat::kIdOk;
            if (answers_.empty()) {
                ++unexpected_;
                return plat::SafeAnswer(style);
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    plat::SetMessageBoxPort({});
}

std::vector<QString> ScriptedMessageBoxes::captions() const {
    std::vector<QString> result;
    for (const ShownMessage& m : shown_)
        result.push_back(m.caption);
    return result;
}

OptionValues::OptionValues() {
    plat::SetOptionPort([this](uint16_t id) {
        const auto it = values_.find(id);
        return it == values_.end() ? 1 : it->second;
    });
}

OptionValues::~OptionValues() {
    plat::SetOptionPort({});
}

void OptionValues::Configure(bool high, bool fast, bool hide, bool wipe) {
    Set(HighEncryption, high);
    Set(FastCompression, fast);
    Set(HideEncrypted, hide);
    Set(WipePlainFiles, wipe);
}

WaitCursorCounter::WaitCursorCounter() {
    plat::SetCursorPort(
        {[this] { return static_cast<intptr_t>(++shown_); }, [this](intptr_t) { ++restored_; }});
}

WaitCursorCounter::~WaitCursorCounter() {
    plat::SetCursorPort({});
}

} // namespace testing_ports
