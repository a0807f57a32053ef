#pragma once

// What the command line prints: JSON forms of the core's records for scripts (English field
// names, ISO 8601 UTC dates) and the stage and progress display on standard error.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "base/OperationControl.h"
#include "base/OperationStage.h"
#include "discovery/GameScanner.h"
#include "packs/PackRecords.h"
#include "records/Backup.h"
#include "records/Records.h"

namespace olvex::cli {

using Json = nlohmann::ordered_json;

// "2024-05-01T12:34:56Z": the date in UTC, whole seconds.
std::string isoDate(Date date);
// "2024-05-01 20:34:56": the date in the local time zone, for people.
std::string localDate(Date date);

Json jsonOf(const ScanReport& report);
Json jsonOf(const GameClient& client);
Json jsonOf(const InstalledAddon& addon);
Json jsonOf(const ManagedPack& pack);
Json jsonOf(const RetiredAddon& addon);
Json jsonOf(const ImportPreview& preview);
Json jsonOf(const LocalBackup& backup);
Json jsonOf(const BackupDetails& details);
Json jsonOf(const ConfigurationScope& scope);

// Writes the value to standard output, indented, invalid UTF-8 in names replaced.
void printJson(const Json& value);

// Prints a listing as one JSON array of its items' objects.
template <typename List> void printJsonArray(const List& list) {
    Json array = Json::array();
    for (const auto& item : list) {
        array.push_back(jsonOf(item));
    }
    printJson(array);
}

// The stages and progress of one running operation on standard error. Stages come from
// the service thread, progress from the waiting thread; one lock keeps lines whole. On a
// terminal the progress line is rewritten in place; otherwise a line at most every second.
class StageDisplay {
public:
    StageDisplay();
    void stage(OperationStage stage);
    void progress(OperationControl::Progress progress);
    // Ends an open progress line so that what follows starts on a line of its own.
    void finish();

private:
    void endProgressLine();

    std::mutex m_lock;
    bool m_terminal;
    bool m_lineOpen = false;
    std::int64_t m_shown = 0;
    std::chrono::steady_clock::time_point m_lastLine{};
};

} // namespace olvex::cli
