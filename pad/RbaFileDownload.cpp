// RbaPad: writing a file to the pad in "62." blocks.
#include "pad/ControlChars.h"
#include "pad/LinkCodes.h"
#include "pad/RbaLink.h"
#include "pad/RbaPad.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "platform/Tick.h"
#include "server/FormatText.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"

#include <algorithm>

namespace korvane {
namespace {

constexpr uint8_t kEscape = 0xFF;
constexpr uint8_t kEscapeOffset = 0x20;

// Bytes below 20 cannot travel raw (they are the link's control bytes) and
// FF introduces an escape, so both take two bytes on the wire.
bool isSpecial(uint8_t byte) { return byte < 0x20 || byte == kEscape; }

// The pad installs files whose name ends in OGZ or ogz as packages; the
// mixed-case forms are plain files to it.
bool isOgzName(const std::string& name) {
    if (name.size() < 3) return false;
    const std::string tail = name.substr(name.size() - 3);
    return tail == "OGZ" || tail == "ogz";
}

char blockType(size_t block, size_t blocks) {
    if (blocks == 1) return '0';
    if (block == 1) return '1';
    return block == blocks ? '3' : '2';
}

// Appends escaped bytes from `next` until the payload holds `blockSize`
// bytes; an escape may take it one byte over.
void appendPayload(std::string& text, std::span<const uint8_t> data, size_t& next, size_t blockSize) {
    size_t payload = 0;
    while (payload < blockSize && next < data.size()) {
        const uint8_t byte = data[next++];
        if (byte == kEscape) {
            text += static_cast<char>(kEscape);
            text += static_cast<char>(kEscape);
            payload += 2;
        } else if (byte < kEscapeOffset) {
            text += static_cast<char>(kEscape);
            text += static_cast<char>(byte + kEscapeOffset);
            payload += 2;
        } else {
            text += static_cast<char>(byte);
            ++payload;
        }
    }
}

std::string renderedTail(const std::string& reply) {
    return renderControlChars(reply.size() > 1 ? std::string_view(reply).substr(1) : std::string_view());
}

}  // namespace

bool RbaPad::failLoad(const std::string& text, std::string& errorOut) {
    if (LoadJob* job = owner()) job->errorText = text;
    errorOut = text;
    return false;
}

// Two sends of sendFrame (each up to two transmissions), with the pad's input
// drained for longer before each retry.
bool RbaPad::sendBlock(RbaLink& link, const std::string& frame) {
    if (link.sendFrame(frame, kBlockAckMs) == kLinkSuccess) return true;
    for (const uint32_t drainMs : kBlockRetryDrainMs) {
        link.drainInput(drainMs);
        if (link.sendFrame(frame, kBlockAckMs) == kLinkSuccess) return true;
    }
    return false;
}

bool RbaPad::loadFile(std::string_view text, const std::string& fileName, std::string& errorOut, size_t blockSize) {
    return loadFile(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), fileName,
                    errorOut, blockSize);
}

bool RbaPad::loadFile(std::span<const uint8_t> data, const std::string& fileName, std::string& errorOut,
                      size_t blockSize) {
    if (blockSize == 0) blockSize = kBlockSize;
    const size_t special = static_cast<size_t>(std::count_if(data.begin(), data.end(), isSpecial));
    const size_t blocks = (data.size() + special + blockSize - 1) / blockSize;
    const char ogzFlag = isOgzName(fileName) ? '0' : '1';
    LoadJob* job = owner();
    SerialPort* serial = port();

    int sequence = 0;
    size_t next = 0;
    for (size_t block = 1; block <= blocks; ++block) {
        if (cancelRequested.load()) {
            postStatus("Canceling...");
            return failLoad(kCancelText, errorOut);
        }
        postStatus(formatText("Loading %s block %i of %i", fileName.c_str(), static_cast<int>(block),
                              static_cast<int>(blocks)));

        const char type = blockType(block, blocks);
        sequence = sequence >= 99 ? 1 : sequence + 1;
        std::string text = "62.";
        text += type;
        text += formatText("8%02d0000", sequence);
        text += ogzFlag;
        text += '1';
        if (type == '0' || type == '1') {
            text += fileName;
            text += kFs;
        }
        // When escapes have outrun the count the data ends early: the
        // remaining blocks go out empty, so the last still says "3".
        appendPayload(text, data, next, blockSize);
        const std::string frame = buildFrame(text);

        if (serial == nullptr)
            return failLoad(fileName + " Load Command To Device Failed on block " + std::to_string(block) + ".",
                            errorOut);
        RbaLink link(*serial);
        if (type == '1' || type == '2') {
            if (!sendBlock(link, frame))
                return failLoad(fileName + " Load Command To Device Failed on block " + std::to_string(block) + ".",
                                errorOut);
        } else {
            if (type == '3') postStatus("RBA load complete. Waiting for device to install and restart.");
            std::string reply;
            if (link.transact(frame, reply, kLastBlockAckMs, kLastBlockReplyMs) != kLinkSuccess)
                return failLoad(fileName + " Load Command To Device Failed. + [" + renderedTail(reply) + "]",
                                errorOut);
            if (reply.find("\x02" "62.0") == std::string::npos)
                return failLoad(fileName + " Load Command (62.0) Returned Error. + [" + renderedTail(reply) + "]",
                                errorOut);
        }
        if (job == nullptr || !job->usbConnection) sleepPumping(kSerialBlockPauseMs);
    }
    return true;
}

}  // namespace korvane
