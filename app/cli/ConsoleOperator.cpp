#include "app/cli/ConsoleOperator.h"

#include "app/PromptTexts.h"
#include "app/cli/PortAccessAdvice.h"
#include "pad/SerialPort.h"
#include "platform/ConsoleInput.h"
#include "platform/MessagePump.h"
#include "platform/TerminationSignal.h"
#include "job/DecimalValue.h"
#include "workflows/PortCheck.h"
#include "job/StatusMailbox.h"

#include <algorithm>
#include <strings.h>

namespace korvane {
namespace {

bool sameWord(const std::string& text, const char* word) { return ::strcasecmp(text.c_str(), word) == 0; }

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

// The console's progress window: a status line on standard error, and Ctrl+C
// for its Cancel while it is shown.
class ConsoleOperator::ConsoleProgress : public ProgressView {
public:
    explicit ConsoleProgress(ConsoleOperator& owner) : owner_(owner) {
        handle_ = ProgressWindowHandle::open([this] { printLatestStatus(); });
    }
    ~ConsoleProgress() override {
        handle_.retire();
        forget();
    }

    void show() override {
        cancelEnabled_ = true;
        forget();
        std::lock_guard<std::mutex> guard(owner_.outputLock_);
        owner_.shown_.push_back(this);
    }
    void hide() override { forget(); }
    ProgressWindowHandle handle() const override { return handle_; }

    // Ctrl+C: as the window's Cancel button, which is disabled once pressed.
    void cancel() {
        if (!cancelEnabled_) return;
        cancelEnabled_ = false;
        owner_.print(owner_.streams_.err, "Cancel Sent");
        noteCancel();
    }

private:
    // Runs on the poster's thread, one post at a time (the handle serialises them).
    void printLatestStatus() {
        const std::string text = StatusMailbox::processWide().text();
        if (text == lastPrinted_) return;
        lastPrinted_ = text;
        owner_.print(owner_.streams_.err, normaliseLineEnds(text));
    }

    void forget() {
        std::lock_guard<std::mutex> guard(owner_.outputLock_);
        auto& shown = owner_.shown_;
        shown.erase(std::remove(shown.begin(), shown.end(), this), shown.end());
    }

    ConsoleOperator& owner_;
    ProgressWindowHandle handle_;
    std::string lastPrinted_;
    bool cancelEnabled_ = true;  // touched on the handlers' thread only
};

int takePromptOption(const std::vector<std::string>& args, std::size_t at, ConsoleAnswers& answers,
                     std::string& error) {
    const std::string& argument = args[at];
    const bool hasValue = at + 1 < args.size();
    if (argument == "--download-mode-ready") {
        answers.downloadModeReady = true;
        return 1;
    }
    if (argument == "--new-port" || argument.rfind("--new-port=", 0) == 0) {
        const bool joined = argument.size() > 10;
        if (!joined && !hasValue) {
            error = "--new-port needs a port number";
            return -1;
        }
        answers.newPort = joined ? argument.substr(11) : args[at + 1];
        return joined ? 1 : 2;
    }
    if (argument == "--pci-version" || argument.rfind("--pci-version=", 0) == 0) {
        const bool joined = argument.size() > 13;
        if (!joined && !hasValue) {
            error = "--pci-version needs v3 or v4";
            return -1;
        }
        const std::string value = joined ? argument.substr(14) : args[at + 1];
        if (sameWord(value, "v3")) {
            answers.pciVersionV4 = false;
        } else if (sameWord(value, "v4")) {
            answers.pciVersionV4 = true;
        } else {
            error = "--pci-version takes v3 or v4, not \"" + value + "\"";
            return -1;
        }
        return joined ? 1 : 2;
    }
    return 0;
}

ConsoleOperator::ConsoleOperator(ConsoleAnswers answers, Streams streams)
    : answers_(std::move(answers)), streams_(streams) {
    signalFd_ = installTerminationSignalPipe();
    setMessagePumpHook([this] { takeSignals(); });
}

ConsoleOperator::~ConsoleOperator() { setMessagePumpHook({}); }

std::string ConsoleOperator::normaliseLineEnds(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            result.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

void ConsoleOperator::print(std::FILE* stream, const std::string& text) {
    std::lock_guard<std::mutex> guard(outputLock_);
    std::fwrite(text.data(), 1, text.size(), stream);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stream);
    std::fflush(stream);
}

void ConsoleOperator::takeSignals() {
    if (signalFd_ < 0) return;
    const int signalNumber = takeTerminationSignal(signalFd_);
    if (signalNumber == 0) return;
    ConsoleProgress* target = nullptr;
    {
        std::lock_guard<std::mutex> guard(outputLock_);
        if (!shown_.empty()) target = shown_.back();
    }
    // Outside a load there is nothing to cancel: end as the signal would have.
    if (target == nullptr) endBySignal(signalNumber);
    target->cancel();
}

void ConsoleOperator::showMessage(const std::string& text) {
    print(streams_.out, normaliseLineEnds(text));
    const std::string advice = portAccessAdvice(text);
    if (!advice.empty()) print(streams_.err, advice);
}

std::unique_ptr<ProgressView> ConsoleOperator::openProgressWindow() {
    return std::make_unique<ConsoleProgress>(*this);
}

std::optional<int> ConsoleOperator::runComPortPrompt(SerialPort& port) {
    const std::string title = prompt_texts::kComPortTitle;
    if (!answers_.newPort) {
        // As the window's Cancel: the load's port is left closed.
        port.close();
        print(streams_.err, title + ": cancelled (no --new-port given)");
        return std::nullopt;
    }
    // Nobody can type again here, so a port that does not open is a Cancel.
    const int portNumber = decimalValue(*answers_.newPort);
    std::string error;
    if (!reopenLoadPort(port, portNumber, error)) {
        showMessage(error);
        print(streams_.err, title + ": cancelled");
        return std::nullopt;
    }
    print(streams_.err, title + ": " + std::to_string(portNumber));
    return portNumber;
}

bool ConsoleOperator::runDownloadStepsWindow() {
    const std::string title = prompt_texts::kDownloadStepsTitle;
    print(streams_.err, title + (answers_.downloadModeReady ? ": DOWNLOAD" : ": CANCEL (no --download-mode-ready given)"));
    return answers_.downloadModeReady;
}

std::optional<bool> ConsoleOperator::runPciVersionPrompt() {
    const std::string title = prompt_texts::kPciVersionTitle;
    if (answers_.pciVersionV4) {
        print(streams_.err, title + (*answers_.pciVersionV4 ? ": V4" : ": V3"));
        return answers_.pciVersionV4;
    }
    if (!isTerminal(streams_.in)) {
        print(streams_.err, title + ": cancelled (no --pci-version given)");
        return std::nullopt;
    }
    print(streams_.err, std::string(prompt_texts::kPciVersionQuestion) + "\n" + prompt_texts::kPciVersionExample +
                            "\n" + prompt_texts::kPciVersionOtherwise);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(outputLock_);
            std::fputs("V3 or V4? ", streams_.err);
            std::fflush(streams_.err);
        }
        const std::optional<std::string> line = readLine(streams_.in, signalFd_);
        if (!line) {
            // Ctrl+C or the end of the input: the prompt's Cancel, and nothing more.
            if (signalFd_ >= 0) takeTerminationSignal(signalFd_);
            print(streams_.err, "\n" + title + ": cancelled");
            return std::nullopt;
        }
        const std::string answer = trimmed(*line);
        if (sameWord(answer, "v3") || answer == "3") return false;
        if (sameWord(answer, "v4") || answer == "4") return true;
    }
}

}  // namespace korvane
