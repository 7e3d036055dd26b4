#include "workflows/ProgressView.h"

#include "platform/MessagePump.h"
#include "job/CancelRequested.h"

namespace korvane {

ProgressView::ProgressView() { cancelRequested = false; }

ProgressView::~ProgressView() = default;

bool ProgressView::pumpAndTakeCancel() {
    pumpMessages();
    return cancelPressed_.exchange(false);
}

void ProgressView::noteCancel() {
    cancelPressed_ = true;
    cancelRequested = true;
}

}  // namespace korvane
