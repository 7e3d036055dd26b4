#include "platform/SystemErrorText.h"

#include <cstring>

namespace korvane {

std::string systemErrorText(int error) { return std::strerror(error); }

}  // namespace korvane
