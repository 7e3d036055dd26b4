#include "pad/Bundle.h"

#include "job/LoadJob.h"

#include <cctype>
#include <cstdio>

namespace korvane {

namespace {

// Leading digits only: a length field of "12ab    " is 12, one of "  12" is 0.
size_t leadingDigitsValue(const uint8_t* text, size_t length) {
    size_t value = 0;
    for (size_t i = 0; i < length && std::isdigit(text[i]); ++i) {
        value = value * 10 + static_cast<size_t>(text[i] - '0');
    }
    return value;
}

std::string withoutTrailingWhiteSpace(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool readBundle(const ByteArray& bundle, BundleEntries& entries) {
    std::string whyNot;
    return readBundle(bundle, entries, whyNot);
}

bool readBundle(const ByteArray& bundle, BundleEntries& entries, std::string& whyNot) {
    entries.clear();
    whyNot.clear();
    const size_t total = bundle.size();
    if (total == 0) {
        whyNot = "The bundle is empty.";
        return false;
    }
    size_t position = 0;
    for (size_t entry = 1; position < total; ++entry) {
        if (total - position < kBundleLengthDigits) {
            whyNot = "The bundle ends inside the length of entry " + std::to_string(entry) + ".";
            return false;
        }
        const size_t length = leadingDigitsValue(bundle.data() + position, kBundleLengthDigits);
        position += kBundleLengthDigits;
        if (length > total - position) {
            // Checked before anything is copied: the length is the sender's word only.
            whyNot = "The bundle ends inside entry " + std::to_string(entry) + ": " + std::to_string(length) +
                     " bytes announced, " + std::to_string(total - position) + " left.";
            return false;
        }
        const size_t nameLength = length < kBundleNameBytes ? length : kBundleNameBytes;
        std::string name(bundle.begin() + static_cast<std::ptrdiff_t>(position),
                         bundle.begin() + static_cast<std::ptrdiff_t>(position + nameLength));
        ByteArray data(bundle.begin() + static_cast<std::ptrdiff_t>(position + nameLength),
                       bundle.begin() + static_cast<std::ptrdiff_t>(position + length));
        position += length;
        entries.insert_or_assign(withoutTrailingWhiteSpace(std::move(name)), std::move(data));
    }
    if (entries.empty()) whyNot = "The bundle holds no entry.";
    return !entries.empty();
}

bool appendBundleEntry(ByteArray& bundle, const std::string& name, const ByteArray& data) {
    if (name.size() > kBundleNameBytes || data.size() > 99999999 - kBundleNameBytes) {
        return false;
    }
    char length[kBundleLengthDigits + 1];
    std::snprintf(length, sizeof length, "%08zu", data.size() + kBundleNameBytes);
    bundle.insert(bundle.end(), length, length + kBundleLengthDigits);
    bundle.insert(bundle.end(), name.begin(), name.end());
    bundle.insert(bundle.end(), kBundleNameBytes - name.size(), ' ');
    bundle.insert(bundle.end(), data.begin(), data.end());
    return true;
}

bool readJobBundle(const LoadJob* job, BundleEntries& entries, std::string& whyNot) {
    entries.clear();
    if (job == nullptr || job->configImage == nullptr) {
        whyNot = "No bundle to unpack.";
        return false;
    }
    return readBundle(*job->configImage, entries, whyNot);
}

}  // namespace korvane
