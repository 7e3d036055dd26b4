#include "tools/load-server/LoadRecordStore.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <sqlite3.h>

namespace korvane {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS loads (
    load_id INTEGER PRIMARY KEY AUTOINCREMENT,
    installation_serial TEXT NOT NULL, model TEXT NOT NULL, app_version TEXT NOT NULL,
    previous_app_version TEXT NOT NULL, config_version TEXT NOT NULL, oem_id TEXT NOT NULL,
    requested_at TEXT NOT NULL, peer TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS outcomes (
    report_id INTEGER PRIMARY KEY AUTOINCREMENT,
    load_id INTEGER NOT NULL REFERENCES loads(load_id),
    installation_serial TEXT NOT NULL, outcome TEXT NOT NULL, app_version TEXT NOT NULL,
    previous_app_version TEXT NOT NULL, config_version TEXT NOT NULL,
    reported_at TEXT NOT NULL, peer TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS operations (
    operation_id INTEGER PRIMARY KEY AUTOINCREMENT,
    started_at TEXT NOT NULL, ended_at TEXT NOT NULL, peer TEXT NOT NULL,
    request TEXT NOT NULL, subject TEXT NOT NULL,
    response_status TEXT NOT NULL, response_error TEXT NOT NULL,
    blocks_sent INTEGER NOT NULL, blocks_resent INTEGER NOT NULL,
    closing_status TEXT NOT NULL, closing_text TEXT NOT NULL,
    violations TEXT NOT NULL DEFAULT '');
)sql";
// A record store made before the column existed gets it; the error for an
// existing column is expected and ignored.
constexpr const char* kAddViolations = "ALTER TABLE operations ADD COLUMN violations TEXT NOT NULL DEFAULT ''";

constexpr const char* kLoadsQuery = R"sql(
SELECT l.load_id, l.installation_serial, l.model, l.app_version, l.previous_app_version, l.config_version,
       l.oem_id, l.requested_at,
       COALESCE(o.outcome, ''), COALESCE(o.app_version, ''), COALESCE(o.config_version, ''),
       COALESCE(o.reported_at, ''),
       (SELECT COUNT(*) FROM outcomes r WHERE r.load_id = l.load_id)
FROM loads l
LEFT JOIN outcomes o ON o.report_id = (SELECT MAX(report_id) FROM outcomes m WHERE m.load_id = l.load_id)
ORDER BY l.load_id)sql";
constexpr const char* kLoadsTitle =
    "load_id\tinstallation_serial\tmodel\tapp_version\tprevious_app_version\tconfig_version\toem_id\trequested_at\t"
    "outcome\treported_app_version\treported_config_version\treported_at\treports";

constexpr const char* kOperationsQuery = R"sql(
SELECT operation_id, started_at, ended_at, peer, request, subject, response_status, response_error,
       blocks_sent, blocks_resent, closing_status, closing_text, violations
FROM operations ORDER BY operation_id)sql";
constexpr const char* kOperationsTitle =
    "operation_id\tstarted_at\tended_at\tpeer\trequest\tsubject\tresponse_status\tresponse_error\tblocks_sent\t"
    "blocks_resent\tclosing_status\tclosing_text\tviolations";

// Wire texts may hold any byte; one record must stay one line.
std::string escapeField(const unsigned char* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        const unsigned char c = *text;
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out.push_back(static_cast<char>(c));
    }
    return out;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

    // Binds texts (and an integer where given as such) to ?1, ?2, ...
    void bindTexts(std::initializer_list<const std::string*> texts, int first = 1) {
        int index = first;
        for (const std::string* text : texts)
            sqlite3_bind_text(statement_, index++, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

bool openExisting(const std::string& path, sqlite3*& db, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = "cannot open record store " + path + ": " + sqlite3_errmsg(db);
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    return true;
}

bool printQuery(const std::string& path, const char* title, const char* query, std::ostream& out,
                std::string& error) {
    sqlite3* db = nullptr;
    if (!openExisting(path, db, error)) return false;
    bool done = false;
    {
        Statement statement(db, query);
        if (statement.ok()) {
            out << title << '\n';
            int step = SQLITE_ROW;
            while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
                const int columns = sqlite3_column_count(statement.get());
                for (int i = 0; i < columns; ++i)
                    out << (i == 0 ? "" : "\t") << escapeField(sqlite3_column_text(statement.get(), i));
                out << '\n';
            }
            done = step == SQLITE_DONE;
        }
        if (!done) error = "cannot read record store " + path + ": " + sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    return done;
}

}  // namespace

LoadRecordStore::~LoadRecordStore() { sqlite3_close(db_); }

bool LoadRecordStore::open(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "cannot open record store " + path + ": " + sqlite3_errmsg(db_);
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    // WAL lets --show-loads read while the server writes. With WAL, NORMAL
    // syncs at checkpoints instead of at every commit: a crash loses no
    // committed record and corrupts nothing, and a hundred clients at once
    // no longer queue behind one disk flush each.
    char* message = nullptr;
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
        error = "cannot set up record store " + path + ": " + (message != nullptr ? message : sqlite3_errmsg(db_));
        sqlite3_free(message);
        return false;
    }
    sqlite3_exec(db_, kAddViolations, nullptr, nullptr, nullptr);
    return true;
}

std::optional<int64_t> LoadRecordStore::registerLoad(const LoadRequest& request, std::string& error) {
    std::lock_guard<std::mutex> guard(lock_);
    Statement statement(db_,
                        "INSERT INTO loads (installation_serial, model, app_version, previous_app_version, "
                        "config_version, oem_id, requested_at, peer) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    const std::string at = now();
    if (statement.ok()) {
        statement.bindTexts({&request.installationSerial, &request.model, &request.appVersion,
                             &request.previousAppVersion, &request.configVersion, &request.oemId, &at, &request.peer});
        if (sqlite3_step(statement.get()) == SQLITE_DONE) return sqlite3_last_insert_rowid(db_);
    }
    error = sqlite3_errmsg(db_);
    return std::nullopt;
}

bool LoadRecordStore::isKnownLoad(int64_t loadId) {
    std::lock_guard<std::mutex> guard(lock_);
    Statement statement(db_, "SELECT 1 FROM loads WHERE load_id = ?1");
    if (!statement.ok()) return false;
    sqlite3_bind_int64(statement.get(), 1, loadId);
    return sqlite3_step(statement.get()) == SQLITE_ROW;
}

bool LoadRecordStore::recordOutcome(const OutcomeReport& report, std::string& error) {
    std::lock_guard<std::mutex> guard(lock_);
    Statement statement(db_,
                        "INSERT INTO outcomes (load_id, installation_serial, outcome, app_version, "
                        "previous_app_version, config_version, reported_at, peer) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    const std::string at = now();
    if (statement.ok()) {
        sqlite3_bind_int64(statement.get(), 1, report.loadId);
        statement.bindTexts({&report.installationSerial, &report.outcome, &report.appVersion,
                             &report.previousAppVersion, &report.configVersion, &at, &report.peer},
                            2);
        if (sqlite3_step(statement.get()) == SQLITE_DONE) return true;
    }
    error = sqlite3_errmsg(db_);
    return false;
}

bool LoadRecordStore::recordOperation(const Operation& operation, std::string& error) {
    std::lock_guard<std::mutex> guard(lock_);
    Statement statement(db_,
                        "INSERT INTO operations (started_at, ended_at, peer, request, subject, response_status, "
                        "response_error, blocks_sent, blocks_resent, closing_status, closing_text, violations) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    if (statement.ok()) {
        statement.bindTexts({&operation.startedAt, &operation.endedAt, &operation.peer, &operation.request,
                             &operation.subject, &operation.responseStatus, &operation.responseError});
        sqlite3_bind_int64(statement.get(), 8, operation.blocksSent);
        sqlite3_bind_int64(statement.get(), 9, operation.blocksResent);
        statement.bindTexts({&operation.closingStatus, &operation.closingText, &operation.violations}, 10);
        if (sqlite3_step(statement.get()) == SQLITE_DONE) return true;
    }
    error = sqlite3_errmsg(db_);
    return false;
}

bool LoadRecordStore::printLoads(const std::string& path, std::ostream& out, std::string& error) {
    return printQuery(path, kLoadsTitle, kLoadsQuery, out, error);
}

bool LoadRecordStore::printOperations(const std::string& path, std::ostream& out, std::string& error) {
    return printQuery(path, kOperationsTitle, kOperationsQuery, out, error);
}

std::string LoadRecordStore::now() {
    const auto stamp = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(stamp);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(stamp.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

}  // namespace korvane
