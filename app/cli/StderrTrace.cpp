#include "app/cli/StderrTrace.h"

#include "pad/ControlChars.h"
#include "platform/Tick.h"

#include <atomic>
#include <cstdio>

namespace korvane {
namespace {

std::atomic<uint32_t> traceStart{0};

const char* arrowFor(LinkTraceEvent event) {
    switch (event) {
    case LinkTraceEvent::sent: return "->";
    case LinkTraceEvent::received: return "<-";
    case LinkTraceEvent::discarded: return "<- discarded";
    }
    return "??";
}

void printToStderr(LinkTraceEvent event, const char* bytes, size_t length) {
    const std::string line = formatTraceLine(elapsedSince(traceStart.load()), event, bytes, length);
    // One call per line, so lines from two threads never interleave.
    std::fputs(line.c_str(), stderr);
}

}  // namespace

std::string formatTraceLine(uint32_t elapsedMs, LinkTraceEvent event, const char* bytes, size_t length) {
    char head[48];
    std::snprintf(head, sizeof(head), "%7u ms %s ", elapsedMs, arrowFor(event));
    return head + renderControlChars(std::string_view(bytes, length)) + "\n";
}

void installStderrTrace() {
    traceStart = tickCount();
    setLinkTraceHook(&printToStderr);
}

}  // namespace korvane
