#pragma once

#include "workflows/Operator.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

// How `korvane-load` answers the prompts, from its options.
struct ConsoleAnswers {
    std::optional<std::string> newPort;  // --new-port N; none: the COM port prompt is cancelled
    bool downloadModeReady = false;      // --download-mode-ready; else the steps window is cancelled
    std::optional<bool> pciVersionV4;    // --pci-version v3|v4; none: asked on a terminal, else cancelled
};

// Takes a prompt option at `args[at]` (and its value after it) into `answers`.
// Returns 0 when the argument is not one of them, the number of arguments
// taken, or -1 with `error` set when the option is given wrongly.
int takePromptOption(const std::vector<std::string>& args, std::size_t at, ConsoleAnswers& answers,
                     std::string& error);

// The operator at a console: each message goes to standard output with its
// line ends made "\n", status texts go to standard error as they change,
// Ctrl+C is the progress window's Cancel, and the prompts are answered from
// the options. Construct it on the thread that runs the handlers.
class ConsoleOperator : public Operator {
public:
    struct Streams {
        std::FILE* out = stdout;  // messages
        std::FILE* err = stderr;  // status texts, prompt answers, questions
        int in = 0;               // where a PCI version question is answered
    };

    explicit ConsoleOperator(ConsoleAnswers answers) : ConsoleOperator(std::move(answers), Streams{}) {}
    ConsoleOperator(ConsoleAnswers answers, Streams streams);
    ~ConsoleOperator() override;
    ConsoleOperator(const ConsoleOperator&) = delete;
    ConsoleOperator& operator=(const ConsoleOperator&) = delete;

    void showMessage(const std::string& text) override;
    std::unique_ptr<ProgressView> openProgressWindow() override;
    std::optional<int> runComPortPrompt(SerialPort& port) override;
    bool runDownloadStepsWindow() override;
    std::optional<bool> runPciVersionPrompt() override;

    // A text as the console shows it: "\r\n" and a lone "\r" become "\n".
    static std::string normaliseLineEnds(const std::string& text);

private:
    class ConsoleProgress;
    friend class ConsoleProgress;

    void takeSignals();
    void print(std::FILE* stream, const std::string& text);

    ConsoleAnswers answers_;
    Streams streams_;
    int signalFd_ = -1;
    std::mutex outputLock_;
    std::vector<ConsoleProgress*> shown_;  // in the order they were shown; the last takes Ctrl+C
};

}  // namespace korvane
