#pragma once

#include "pad/SerialPort.h"
#include "job/CancelRequested.h"
#include "workflows/Operator.h"
#include "workflows/ProgressView.h"
#include "job/StatusMailbox.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

// The operator of an in-process load: remembers every message and status
// text, answers the PCI version prompt from a list, and presses Cancel (or
// does anything else) when a chosen status text appears.
class ScriptedOperator : public Operator {
public:
    void showMessage(const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(text);
    }

    std::unique_ptr<ProgressView> openProgressWindow() override { return std::make_unique<Progress>(*this); }

    // Cancel, which leaves the port closed.
    std::optional<int> runComPortPrompt(SerialPort& port) override {
        ++comPortPrompts;
        port.close();
        return std::nullopt;
    }
    // "DOWNLOAD" when `downloadStepsAnswer`, else "CANCEL".
    bool runDownloadStepsWindow() override {
        ++downloadStepsWindows;
        return downloadStepsAnswer;
    }

    std::optional<bool> runPciVersionPrompt() override {
        ++pciPrompts;
        if (pciAnswers.empty()) return std::nullopt;
        const std::optional<bool> answer = pciAnswers.front();
        pciAnswers.pop_front();
        return answer;
    }

    // Runs `action` once, on the poster's thread, when a status text starts with `prefix`
    // and contains `part`.
    void onStatus(std::string prefix, std::string part, std::function<void()> action) {
        std::lock_guard<std::mutex> guard(lock_);
        trigger_ = {std::move(prefix), std::move(part), std::move(action)};
    }
    void cancelOnStatus(std::string prefix, std::string part = {}) {
        onStatus(std::move(prefix), std::move(part), [] { cancelRequested.store(true); });
    }

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    std::vector<std::string> statuses() const {
        std::lock_guard<std::mutex> guard(lock_);
        return statuses_;
    }
    bool saw(const std::string& status) const {
        for (const std::string& text : statuses())
            if (text == status) return true;
        return false;
    }

    std::deque<std::optional<bool>> pciAnswers;  // nullopt: Cancel
    int pciPrompts = 0;
    int comPortPrompts = 0;
    bool downloadStepsAnswer = false;
    int downloadStepsWindows = 0;

private:
    struct Trigger {
        std::string prefix, part;
        std::function<void()> action;
    };

    class Progress : public ProgressView {
    public:
        explicit Progress(ScriptedOperator& op)
            : handle_(ProgressWindowHandle::open([&op] { op.noteStatus(StatusMailbox::processWide().text()); })) {}
        ~Progress() override { handle_.retire(); }
        void show() override {}
        void hide() override {}
        ProgressWindowHandle handle() const override { return handle_; }

    private:
        ProgressWindowHandle handle_;
    };

    void noteStatus(const std::string& text) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> guard(lock_);
            statuses_.push_back(text);
            if (trigger_.action && text.rfind(trigger_.prefix, 0) == 0 && text.find(trigger_.part) != std::string::npos)
                action = std::exchange(trigger_.action, nullptr);
        }
        if (action) action();
    }

    mutable std::mutex lock_;
    std::vector<std::string> messages_;
    std::vector<std::string> statuses_;
    Trigger trigger_;
};

}  // namespace korvane::test
