// The block download of the two fetches and the digest check after it.
#include "server/LoadServerClient.h"

#include "platform/Tick.h"
#include "server/HexText.h"
#include "server/Md5.h"
#include "server/OutcomeCodes.h"
#include "job/CancelRequested.h"
#include "job/DecimalValue.h"
#include "job/LoadJob.h"

#include <cstdint>

namespace korvane {

namespace {

constexpr const char* kContinueText = "OK_TO_CONTINUE";
constexpr const char* kDownloadingText = "Downloading block ";
constexpr const char* kCancelingText = "Canceling...";
constexpr const char* kTooManyRetriesText = "Transmission Errors resulted in too many retries.";
constexpr const char* kCanceledText = "User canceled file download.";

// Over the whole download, never reset.
constexpr int kMaxTransmissionErrors = 5;
// The only pause of the download, between a block's acknowledgement and the next receive.
constexpr uint32_t kBlockPauseMs = 5;

}  // namespace

bool LoadServerClient::DownloadBlocks(int totalLength) {
    LoadJob* job = owner();
    if (job == nullptr || job->downloadTarget == nullptr) {
        setLastErrorText(kNoDownloadTargetText);
        return false;
    }
    ByteArray& target = *job->downloadTarget;

    SendStatus(kContinueText, 0, 1, std::string(), false);
    target.clear();
    downloadDigest_.reset();
    int errors = 0;
    int64_t bytesReceived = 0;
    int expected = 1;       // N
    int lastGood = 0;       // L
    int64_t estimated = 0;  // M, for the progress text only
    postStatus(kDownloadingText + std::to_string(expected));

    LoadServerResponse block;
    bool accepted = false;  // the block just stored still waits for its digest
    if (ReceiveBlock(block)) {
        for (;;) {
            if (errors >= kMaxTransmissionErrors) {
                setLastErrorText(kTooManyRetriesText);
                return false;
            }
            // The block that just came is not stored.
            if (cancelRequested.load()) {
                setLastErrorText(kCanceledText);
                postStatus(kCancelingText);
                job->loadReport.outcome = kOutcomeFailDownloadFiles;
                return false;
            }
            if (decimalValue(block.blockNumber) != expected) {
                ++errors;
                SendStatus(kContinueText, lastGood, expected, std::string(), false);
            } else {
                const std::string& bytes = block.rawBody;  // never empty: the receive refuses that
                bytesReceived += static_cast<int64_t>(bytes.size());
                estimated = totalLength / static_cast<int64_t>(bytes.size()) + 1;
                if (bytesReceived - totalLength > kMaxDownloadOverrunBytes) {
                    setLastErrorText(kDownloadOverrunText);
                    target.clear();
                    target.shrink_to_fit();
                    return false;
                }
                target.insert(target.end(), bytes.begin(), bytes.end());
                // The last block is not acknowledged; the closing status follows instead.
                if (bytesReceived == totalLength) {
                    downloadDigest_.update(bytes.data(), bytes.size());
                    return true;
                }
                lastGood = expected;
                ++expected;
                SendStatus(kContinueText, lastGood, expected, std::string(), false);
                accepted = true;
            }
            // The pause starts with the acknowledgement. The block's digest is
            // taken within it, while the block is still in the cache and the
            // server sends the next one: no second pass over the file after the
            // transfer, and next to no time of its own.
            const PauseStart pause = startPause();
            if (accepted) downloadDigest_.update(block.rawBody.data(), block.rawBody.size());
            accepted = false;
            block.rawBody.clear();
            block.blockNumber.clear();
            postStatus(kDownloadingText + std::to_string(expected) + " of " + std::to_string(estimated));
            finishPause(pause, kBlockPauseMs);
            if (!ReceiveBlock(block)) {
                if (errors >= kMaxTransmissionErrors) {
                    setLastErrorText(kTooManyRetriesText);
                    return false;
                }
                break;
            }
        }
    }
    // The receive's own text stands.
    target.clear();
    return false;
}

bool LoadServerClient::VerifyFileDigest(const ByteArray& file, const std::string& expectedDigest) {
    const Md5::Digest digest = Md5::digest(file.data(), file.size());
    return HexEncode(digest.data(), digest.size()) == expectedDigest;
}

bool LoadServerClient::VerifyDownloadDigest(const std::string& expectedDigest) {
    const Md5::Digest digest = downloadDigest_.finish();
    return HexEncode(digest.data(), digest.size()) == expectedDigest;
}

}  // namespace korvane
