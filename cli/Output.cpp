#include "Output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <unistd.h>

#include "base/ByteCount.h"

namespace olvex::cli {

namespace {

std::string formatTime(Date date, bool utc, const char* format) {
    const auto seconds = static_cast<std::time_t>(std::floor(date.unixSeconds()));
    std::tm parts{};
    if (utc) {
        ::gmtime_r(&seconds, &parts);
    } else {
        ::localtime_r(&seconds, &parts);
    }
    char buffer[64];
    size_t length = std::strftime(buffer, sizeof buffer, format, &parts);
    return std::string(buffer, length);
}

Json optionalText(const std::optional<std::string>& value) {
    return value ? Json(*value) : Json(nullptr);
}

} // namespace

std::string isoDate(Date date) {
    return formatTime(date, true, "%Y-%m-%dT%H:%M:%SZ");
}

std::string localDate(Date date) {
    return formatTime(date, false, "%Y-%m-%d %H:%M:%S");
}

Json jsonOf(const GameClient& client) {
    return Json{{"path", client.id()}, {"folderName", client.folderName()}, {"title", client.title()}};
}

Json jsonOf(const ScanReport& report) {
    Json clients = Json::array();
    for (const auto& client : report.clients) {
        const ClientSource source = report.sourceOf(client);
        Json entry = jsonOf(client);
        entry["source"] = Json{{"kind", source.kindName()}, {"name", source.name}, {"text", source.displayText()}};
        clients.push_back(std::move(entry));
    }
    Json missing = Json::array();
    for (const auto& root : report.missingRoots) {
        missing.push_back(root.native());
    }
    Json inaccessible = Json::array();
    for (const auto& root : report.inaccessibleRoots) {
        inaccessible.push_back(root.native());
    }
    Json unreadable = Json::array();
    for (const auto& file : report.unreadableFiles) {
        unreadable.push_back(file.native());
    }
    return Json{{"clients", clients},
                {"missingRoots", missing},
                {"inaccessibleRoots", inaccessible},
                {"unreadableFiles", unreadable},
                {"reachedLimit", report.reachedLimit}};
}

Json jsonOf(const InstalledAddon& addon) {
    return Json{{"folder", addon.folder.filename().native()},
                {"path", addon.folder.native()},
                {"title", addon.title},
                {"version", addon.version},
                {"author", addon.author},
                {"dependencies", addon.dependencies},
                {"interface", addon.interface}};
}

Json jsonOf(const ManagedPack& pack) {
    Json retired = Json::array();
    for (const auto& [name, digests] : pack.retired) {
        retired.push_back(name);
    }
    return Json{{"identifier", pack.manifest.identifier},
                {"name", pack.manifest.name},
                {"version", pack.manifest.version},
                {"gameFlavor", pack.manifest.gameFlavor},
                {"source", pack.manifest.source},
                {"installedAt", isoDate(pack.installedAt)},
                {"addons", pack.addons},
                {"retired", retired}};
}

Json jsonOf(const RetiredAddon& addon) {
    return Json{{"packID", addon.packID}, {"name", addon.name}, {"canRemove", addon.canRemove}};
}

Json jsonOf(const ImportPreview& preview) {
    Json pack = nullptr;
    if (preview.pack) {
        pack = Json{{"identifier", preview.pack->identifier},
                    {"name", preview.pack->name},
                    {"version", preview.pack->version},
                    {"gameFlavor", preview.pack->gameFlavor},
                    {"source", preview.pack->source}};
    }
    return Json{{"archiveName", preview.archiveName},
                {"client", preview.client.id()},
                {"addons", preview.addons},
                {"replacing", preview.replacing},
                {"pack", pack},
                {"previousVersion", optionalText(preview.previousVersion)},
                {"retiredAddons", preview.retiredAddons}};
}

Json jsonOf(const LocalBackup& backup) {
    Json object{{"id", backup.id.text()},
                {"date", isoDate(backup.date)},
                {"kind", rawValue(backup.kind)},
                {"reason", backup.reason}};
    object["byteCount"] = backup.byteCount ? Json(*backup.byteCount) : Json(nullptr);
    return object;
}

Json jsonOf(const BackupDetails& details) {
    Json object = jsonOf(details.backup);
    object["bytes"] = details.bytes;
    return object;
}

Json jsonOf(const ConfigurationScope& scope) {
    return Json{{"relativePath", scope.relativePath}, {"title", scope.title}};
}

namespace {

// The JSON writer escapes only what JSON requires (below U+0020). DEL, the C1 controls (U+009B
// starts a terminal command like ESC [) and the line and paragraph separators are escaped too,
// as the text output escapes them; none of them can stand outside a string in JSON.
std::string escapedControls(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        const auto byte = static_cast<unsigned char>(dumped[i]);
        const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
        char escape[8];
        if (byte == 0x7F) {
            out += "\\u007f";
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(next));
            out += escape;
            ++i;
        } else if (byte == 0xE2 && next == 0x80 && i + 2 < dumped.size() &&
                   (static_cast<unsigned char>(dumped[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(dumped[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(dumped[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += dumped[i];
        }
    }
    return out;
}

} // namespace

void printJson(const Json& value) {
    std::cout << escapedControls(value.dump(2, ' ', false, Json::error_handler_t::replace)) << '\n';
}

StageDisplay::StageDisplay() : m_terminal(::isatty(STDERR_FILENO) == 1), m_lastLine(std::chrono::steady_clock::now()) {}

void StageDisplay::endProgressLine() {
    if (m_lineOpen) {
        std::cerr << '\n';
        m_lineOpen = false;
    }
}

void StageDisplay::stage(OperationStage stage) {
    std::lock_guard guard(m_lock);
    endProgressLine();
    std::cerr << rawValue(stage) << std::endl;
}

void StageDisplay::progress(OperationControl::Progress progress) {
    std::lock_guard guard(m_lock);
    const std::int64_t bytes = progress.done;
    if (bytes == m_shown) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    // Quick copies show no count; slow ones one a second, or continuously on a terminal.
    if (now - m_lastLine < (m_terminal ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000))) {
        return;
    }
    m_shown = bytes;
    m_lastLine = now;
    std::string text = "  已处理 " + formatByteCount(bytes);
    if (progress.total > 0) {
        const auto percent = std::min<std::int64_t>(100, bytes * 100 / progress.total);
        text += " / " + formatByteCount(progress.total) + "（" + std::to_string(percent) + "%）";
    }
    if (m_terminal) {
        // Clear to the end of the line: the new text may be shorter than the old one.
        std::cerr << '\r' << text << "\x1b[K" << std::flush;
        m_lineOpen = true;
    } else {
        std::cerr << text << std::endl;
    }
}

void StageDisplay::finish() {
    std::lock_guard guard(m_lock);
    endProgressLine();
}

} // namespace olvex::cli
