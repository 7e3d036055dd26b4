#include "server/CertificatePin.h"

namespace korvane {

std::string colonSeparatedFingerprint(const std::string& hexDigits) {
    std::string text;
    for (std::size_t i = 0; i < hexDigits.size(); i += 2) {
        if (i > 0) text += ':';
        text += hexDigits.substr(i, 2);
    }
    return text;
}

std::string fingerprintText(const unsigned char* digest, std::size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0x0F];
    }
    return text;
}

bool CertificatePin::check(const std::string& receivedFingerprint) {
    if (!isSet()) return true;
    const std::string expected = colonSeparatedFingerprint(pinned_);
    if (!receivedFingerprint.empty() && receivedFingerprint == expected) return true;
    refusal_ = "The load server's certificate does not match the installation's pin: expected SHA-256 " + expected +
               ", received " +
               (receivedFingerprint.empty() ? std::string("no certificate") : "SHA-256 " + receivedFingerprint) + ".";
    return false;
}

}  // namespace korvane
