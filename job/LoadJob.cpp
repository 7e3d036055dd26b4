#include "job/LoadJob.h"

#include "job/StatusMailbox.h"

namespace korvane {

bool LoadJob::postStatus(const std::string& text) const { return korvane::postStatus(progressWindow, text); }

}  // namespace korvane
