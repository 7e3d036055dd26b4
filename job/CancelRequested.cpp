#include "job/CancelRequested.h"

namespace korvane {

std::atomic<bool> cancelRequested{false};

}  // namespace korvane
