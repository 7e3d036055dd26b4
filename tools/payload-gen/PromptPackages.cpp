#include "tools/payload-gen/PromptPackages.h"

#include "tools/payload-gen/Checksums.h"

#include <cstdio>
#include <stdexcept>

namespace korvane::payloadgen {

namespace {

constexpr std::size_t kHeaderSize = 224;
constexpr char kSignedName[] = "8520590000_852059";

std::string padded(const std::string& text, std::size_t width) {
    if (text.size() > width) throw std::runtime_error("package header field too long: " + text);
    return text + std::string(width - text.size(), ' ');
}

std::string decimal(std::size_t value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*zu", width, value);
    return buffer;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string hashLine(const TarMember& member) { return hexText(sha256(member.data)) + "  " + member.name + "\n"; }

}  // namespace

Bytes customPromptPackage(const Bytes& promptXml, uint32_t mtime) {
    const Bytes body = tarArchive({{"CUSTPROMPT.XML", promptXml}}, mtime);
    std::string header = "PGN 1.00" + decimal(kHeaderSize, 8) + decimal(body.size(), 12) +
                         padded("CUSTPROMPT.PGN", 64) + hexText(sha256(body)) + padded("1.0", 16) +
                         std::string(50, ' ') + "\r\n";
    if (header.size() != kHeaderSize) throw std::runtime_error("package header is not 224 bytes");
    Bytes package = bytesOf(header);
    package.insert(package.end(), body.begin(), body.end());
    return package;
}

Bytes signedPromptArchive(const Bytes& promptPackage, const Bytes& packageInfo, uint32_t mtime) {
    const TarMember file{"CUSTPROMPT.PGN", promptPackage};
    const TarMember info{"package.info", packageInfo};
    const Bytes package = tarArchive({{"files.tar", tarArchive({file}, mtime)},
                                      {"files.hash", bytesOf(hashLine(file))},
                                      {"info.tar", tarArchive({info}, mtime)},
                                      {"info.hash", bytesOf(hashLine(info))}},
                                     mtime);
    if (package.size() != kSignedPackageSize) throw std::runtime_error("signed package is not 40960 bytes");

    const std::string packageName = std::string(kSignedName) + ".P3P.pkg";
    std::string notice = "UNSIGNED PLACEHOLDER\r\n"
                         "This file stands where the pad maker's signature of " + packageName + " belongs.\r\n"
                         "A pad refuses the package until a real signature replaces this file.\r\n"
                         "SHA-256 of the package: " + hexText(sha256(package)) + "\r\n";
    if (notice.size() > kSignatureFileSize) throw std::runtime_error("signature notice too long");
    Bytes signature = bytesOf(notice);
    signature.resize(kSignatureFileSize, 0);

    return tarArchive({{std::string(kSignedName) + ".d3s", signature}, {packageName, package}}, mtime);
}

}  // namespace korvane::payloadgen
