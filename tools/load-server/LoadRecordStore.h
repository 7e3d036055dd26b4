#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

struct sqlite3;

namespace korvane {

// The server's record of every load it registered, every outcome reported
// for one and every operation served, in one SQLite file. Shared by all
// connection threads; each call is one short transaction under a lock.
class LoadRecordStore {
public:
    struct LoadRequest {
        std::string installationSerial, model, appVersion, previousAppVersion, configVersion, oemId, peer;
    };
    struct OutcomeReport {
        int64_t loadId = 0;
        std::string installationSerial, outcome, appVersion, previousAppVersion, configVersion, peer;
    };
    struct Operation {
        std::string startedAt, endedAt, peer, request, subject;
        std::string responseStatus, responseError;  // what the server answered
        int64_t blocksSent = 0, blocksResent = 0;
        std::string closingStatus, closingText;     // the client's last status message, if any
        std::string violations;                     // how the client broke the wire format; empty when it did not
    };

    LoadRecordStore() = default;
    ~LoadRecordStore();
    LoadRecordStore(const LoadRecordStore&) = delete;
    LoadRecordStore& operator=(const LoadRecordStore&) = delete;

    // Opens or creates the file and its tables.
    bool open(const std::string& path, std::string& error);

    // A fresh load identifier, never handed out before by this file.
    std::optional<int64_t> registerLoad(const LoadRequest& request, std::string& error);
    bool isKnownLoad(int64_t loadId);
    bool recordOutcome(const OutcomeReport& report, std::string& error);
    bool recordOperation(const Operation& operation, std::string& error);

    // Tab-separated tables with a title row, for tests, the demo and operators.
    static bool printLoads(const std::string& path, std::ostream& out, std::string& error);
    static bool printOperations(const std::string& path, std::ostream& out, std::string& error);

    // UTC, ISO 8601 with milliseconds.
    static std::string now();

private:
    std::mutex lock_;
    sqlite3* db_ = nullptr;
};

}  // namespace korvane
