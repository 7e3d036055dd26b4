#include "server/ChallengeCipher.h"

namespace korvane {

ChallengeCipher& ChallengeCipher::processWide() {
    static ChallengeCipher instance;
    return instance;
}

std::array<uint8_t, ChallengeCipher::kKeyLength> ChallengeCipher::key() const {
    std::lock_guard<std::mutex> guard(lock_);
    return key_;
}

void ChallengeCipher::Release() {
    std::lock_guard<std::mutex> guard(lock_);
    releaseLocked();
}

}  // namespace korvane
