#include "support/FaultHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/Json.h"
#include "fs/Sys.h"
#include "records/Backup.h"

namespace olvex::test {

#ifdef OLVEX_FAULT_INJECTION

namespace {

const std::string kRolledBack = "操作失败，已恢复操作前状态：";
const std::string kUnfinished = "操作失败且自动回滚未完成：";
constexpr int kCrashStatus = 86;

// A deterministic sample: every stride-th of `planned` runs, in their order, so that at most
// `limit` run (0: all). OLVEX_FAULT_SWEEP=full runs every one. The limits below keep the whole
// label within a few minutes on two cores; the single row and the power-loss row (few or cheap
// runs) run whole.
struct Sample {
    long planned;
    long stride = 1;

    Sample(long all, long limit) : planned(all) {
        const char* sweep = std::getenv("OLVEX_FAULT_SWEEP");
        if (limit > 0 && all > limit && !(sweep != nullptr && std::string(sweep) == "full")) {
            stride = (all + limit - 1) / limit;
        }
    }
    bool picks(long index) const { return index % stride == 0; }
    std::string describe(const std::string& what) const {
        return (stride == 1 ? "all " : "1 in " + std::to_string(stride) + " of ") + std::to_string(planned) + " " +
               what;
    }
};

// First faults (or crashes) of the two-fault rows, and the pairs run after them.
constexpr long kFirstLimit = 40;
constexpr long kPairLimit = 60;
constexpr long kPersistentLimit = 100;
// The failed power-loss row: its first faults, and rollbacks whose own flush fails too.
constexpr long kFailedFirstLimit = 16;
constexpr long kFlushFaultLimit = 8;

// The first faults or crashes of a two-fault row, as indices into `points` (their call
// numbers): every one after the journal is in place, whose rollback is what the second fault
// is for, within the limit, and a sample of the others in what remains of it.
std::vector<size_t> pickFirsts(const std::vector<long>& points, long journalAt, const std::string& what,
                               std::string& described, long limit = kFirstLimit) {
    std::vector<size_t> before;
    std::vector<size_t> after;
    for (size_t i = 0; i < points.size(); ++i) {
        (journalAt != 0 && points[i] > journalAt ? after : before).push_back(i);
    }
    const Sample afterSample(static_cast<long>(after.size()), limit);
    const long taken = (afterSample.planned + afterSample.stride - 1) / afterSample.stride;
    const Sample beforeSample(static_cast<long>(before.size()), std::max(1L, limit - taken));
    std::vector<size_t> chosen;
    for (long i = 0; i < beforeSample.planned; i += beforeSample.stride) {
        chosen.push_back(before[static_cast<size_t>(i)]);
    }
    for (long i = 0; i < afterSample.planned; i += afterSample.stride) {
        chosen.push_back(after[static_cast<size_t>(i)]);
    }
    std::sort(chosen.begin(), chosen.end());
    described = journalAt == 0
                    ? beforeSample.describe(what)
                    : afterSample.describe(what + " after the journal") + " and " + beforeSample.describe("before it");
    return chosen;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A folder's tree: relative path → bytes, or nothing for a folder.
using DiskImage = std::map<std::string, std::optional<std::string>>;

DiskImage capture(const Path& root) {
    DiskImage image;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        std::string relative = it->path().native().substr(root.native().size() + 1);
        if (it->is_directory()) {
            image[relative] = std::nullopt;
        } else {
            image[relative] = readFile(it->path());
        }
    }
    return image;
}

// Makes the folder hold exactly the image (a parent sorts before what it holds).
void restore(const Path& root, const DiskImage& image) {
    for (const auto& entry : fs::directory_iterator(root)) {
        fs::remove_all(entry.path());
    }
    for (const auto& [relative, content] : image) {
        if (content) {
            writeFile(root / relative, *content);
        } else {
            fs::create_directories(root / relative);
        }
    }
}

// One mutation or flush as the power-loss model replays it, with its paths resolved.
struct Mutation {
    long number;
    std::string name; // open (creating or truncating), write, rename, link, unlink, mkdir, rmdir, fsync, syncfs
    std::string path;
    std::string to;
    int flags = 0;
    off_t offset = 0;
    std::string data;
};

std::string descriptorPath(int fd) {
    char buffer[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    return length < 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
}

std::string below(int folder, const char* path) {
    return path[0] == '/' ? std::string(path) : descriptorPath(folder) + "/" + path;
}

// An injector that fails nothing and appends each call the model replays to `log`.
std::function<int(const sys::fault::Call&)> recordInto(std::vector<Mutation>& log) {
    return [&log](const sys::fault::Call& call) {
        const std::string name = call.name;
        Mutation mutation{call.number, name, call.path, call.to, call.flags, 0, {}};
        if (name == "open" || name == "openat") {
            if ((call.flags & (O_CREAT | O_TRUNC)) == 0) {
                return 0;
            }
            mutation.name = "open";
            mutation.path = name == "open" ? std::string(call.path) : below(call.fd, call.path);
        } else if (name == "mkdirat") {
            mutation.name = "mkdir";
            mutation.path = below(call.fd, call.path);
        } else if (name == "write") {
            mutation.path = descriptorPath(call.fd);
            mutation.offset = ::lseek(call.fd, 0, SEEK_CUR);
            mutation.data.assign(static_cast<const char*>(call.data), call.size);
        } else if (name == "copyFileRange") {
            // A write of the bytes the kernel is about to copy from the source's offset.
            mutation.name = "write";
            mutation.path = descriptorPath(call.fd);
            mutation.offset = ::lseek(call.fd, 0, SEEK_CUR);
            mutation.data.resize(call.size);
            const ssize_t read = ::pread(call.from, mutation.data.data(), call.size, ::lseek(call.from, 0, SEEK_CUR));
            mutation.data.resize(read > 0 ? static_cast<size_t>(read) : 0);
        } else if (name == "unlinkat") {
            mutation.name = (call.flags & AT_REMOVEDIR) != 0 ? "rmdir" : "unlink";
            mutation.path = below(call.fd, call.path);
        } else if (name == "linkat") {
            // A second name in the folder `fd` for the file named in the folder `from`.
            mutation.name = "link";
            mutation.path = below(call.from, call.path);
            mutation.to = below(call.fd, call.to);
        } else if (name == "fsync") {
            mutation.path = descriptorPath(call.fd);
        } else if (name != "syncfs" && name != "rename" && name != "unlink" && name != "mkdir" && name != "rmdir") {
            return 0;
        }
        log.push_back(std::move(mutation));
        return 0;
    };
}

// The fixture's folder as the process sees it and as stable storage holds it (see the model in
// the header). Paths outside the folder are not modelled.
class DiskModel {
public:
    DiskModel(const Path& base, const DiskImage& initial) : m_bases{base.native(), fs::canonical(base).native()} {
        add(true);
        for (const auto& [relative, content] : initial) {
            auto at = slot(m_bases.front() + "/" + relative);
            size_t node = add(!content);
            m_nodes[node].data = m_nodes[node].durableData = content.value_or("");
            m_nodes[at->first].entries[at->second] = node;
            m_nodes[at->first].durableEntries[at->second] = node;
        }
    }

    // Replays a call as POSIX would run it (a call that would fail changes nothing).
    void apply(const Mutation& call) {
        if (call.name == "syncfs") {
            for (size_t node = 0; node < m_nodes.size(); ++node) {
                flush(node);
            }
            return;
        }
        if (call.name == "fsync" || call.name == "write") {
            auto node = find(call.path);
            if (!node) {
                return;
            }
            if (call.name == "fsync") {
                flush(*node);
            } else if (!m_nodes[*node].folder) {
                std::string& data = m_nodes[*node].data;
                const size_t offset = static_cast<size_t>(call.offset);
                data.resize(std::max(data.size(), offset + call.data.size()));
                data.replace(offset, call.data.size(), call.data);
            }
            return;
        }
        auto at = slot(call.path);
        if (!at) {
            return;
        }
        auto existing = entry(*at);
        if (call.name == "open") {
            if (!existing) {
                size_t node = add(false);
                m_nodes[at->first].entries[at->second] = node;
            } else if ((call.flags & O_EXCL) == 0 && (call.flags & O_TRUNC) != 0 && !m_nodes[*existing].folder) {
                m_nodes[*existing].data.clear();
            }
        } else if (call.name == "mkdir") {
            if (!existing) {
                size_t node = add(true);
                m_nodes[at->first].entries[at->second] = node;
            }
        } else if (call.name == "rmdir" || call.name == "unlink") {
            if (existing && m_nodes[*existing].folder == (call.name == "rmdir") && m_nodes[*existing].entries.empty()) {
                m_nodes[at->first].entries.erase(at->second);
            }
        } else if (call.name == "link") {
            // The new name is one more entry of its folder, durable with that folder's flush; the
            // file's bytes are the ones it already has.
            auto to = slot(call.to);
            if (existing && !m_nodes[*existing].folder && to && !entry(*to)) {
                m_nodes[to->first].entries[to->second] = *existing;
            }
        } else if (call.name == "rename") {
            auto to = slot(call.to);
            if (!existing || !to) {
                return;
            }
            auto replaced = entry(*to);
            if (replaced && (*replaced == *existing || m_nodes[*replaced].folder != m_nodes[*existing].folder ||
                             !m_nodes[*replaced].entries.empty())) {
                return;
            }
            m_nodes[at->first].entries.erase(at->second);
            m_nodes[to->first].entries[to->second] = *existing;
            m_renames.emplace_back(at->first, to->first);
        }
    }

    DiskImage visible() const { return image(nullptr); }
    // What stable storage holds, with the unflushed entries of the given folders written back.
    DiskImage durable(const std::set<size_t>& writtenBack = {}) const { return image(&writtenBack); }

    // The choices of folders whose unflushed entries reached the disk all the same: none, all,
    // each alone and all but each.
    std::vector<std::set<size_t>> writeBacks() const {
        std::vector<size_t> pending;
        for (size_t node = 0; node < m_nodes.size(); ++node) {
            if (m_nodes[node].folder && m_nodes[node].entries != m_nodes[node].durableEntries) {
                pending.push_back(node);
            }
        }
        std::vector<std::set<size_t>> choices{{}, {pending.begin(), pending.end()}};
        for (size_t folder : pending) {
            choices.push_back({folder});
            std::set<size_t> others(pending.begin(), pending.end());
            others.erase(folder);
            choices.push_back(std::move(others));
        }
        for (auto& choice : choices) {
            closeOverRenames(choice);
        }
        std::sort(choices.begin(), choices.end());
        choices.erase(std::unique(choices.begin(), choices.end()), choices.end());
        return choices;
    }

private:
    struct Node {
        bool folder = false;
        std::string data;
        std::string durableData;
        std::map<std::string, size_t> entries;
        std::map<std::string, size_t> durableEntries;
    };
    using Slot = std::pair<size_t, std::string>; // a folder node and a name in it

    std::vector<Node> m_nodes; // the fixture's folder is node 0
    // The folders of each rename: a file system writes a rename back whole or not at all (only
    // a flush of one side makes one side durable), so written-back folders come in these pairs.
    std::vector<std::pair<size_t, size_t>> m_renames;

    void closeOverRenames(std::set<size_t>& folders) const {
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& [from, to] : m_renames) {
                if (folders.count(from) + folders.count(to) == 1) {
                    folders.insert(from);
                    folders.insert(to);
                    grew = true;
                }
            }
        }
    }
    std::vector<std::string> m_bases;

    std::optional<std::vector<std::string>> components(const std::string& path) const {
        for (const auto& base : m_bases) {
            if (path.size() > base.size() && path.compare(0, base.size(), base) == 0 && path[base.size()] == '/') {
                std::vector<std::string> parts;
                for (const auto& part : fs::path(path.substr(base.size() + 1))) {
                    if (!part.empty()) {
                        parts.push_back(part.native());
                    }
                }
                return parts;
            }
        }
        return std::nullopt;
    }

    std::optional<size_t> entry(const Slot& at) const {
        const auto& entries = m_nodes[at.first].entries;
        auto it = entries.find(at.second);
        return it == entries.end() ? std::nullopt : std::optional(it->second);
    }

    // The folder that holds the path and its last name, when that folder exists.
    std::optional<Slot> slot(const std::string& path) const {
        auto parts = components(path);
        if (!parts || parts->empty()) {
            return std::nullopt;
        }
        size_t folder = 0;
        for (size_t i = 0; i + 1 < parts->size(); ++i) {
            auto next = entry({folder, (*parts)[i]});
            if (!next || !m_nodes[*next].folder) {
                return std::nullopt;
            }
            folder = *next;
        }
        return Slot{folder, parts->back()};
    }

    std::optional<size_t> find(const std::string& path) const {
        auto at = slot(path);
        return at ? entry(*at) : std::nullopt;
    }

    size_t add(bool folder) {
        m_nodes.emplace_back();
        m_nodes.back().folder = folder;
        return m_nodes.size() - 1;
    }

    void flush(size_t node) {
        m_nodes[node].durableData = m_nodes[node].data;
        m_nodes[node].durableEntries = m_nodes[node].entries;
    }

    // The tree as the process sees it (no write-back choice) or as stable storage holds it.
    DiskImage image(const std::set<size_t>* writtenBack) const {
        DiskImage out;
        walk(0, "", writtenBack, out, 0);
        return out;
    }

    // A folder durably in two places (a rename flushed on one side only) is listed in both;
    // the depth bound stops a folder durably inside itself.
    void walk(size_t folder, const std::string& prefix, const std::set<size_t>* writtenBack, DiskImage& out,
              int depth) const {
        if (depth > 64) {
            return;
        }
        const bool durable = writtenBack != nullptr && writtenBack->count(folder) == 0;
        for (const auto& [name, child] : durable ? m_nodes[folder].durableEntries : m_nodes[folder].entries) {
            const std::string path = prefix.empty() ? name : prefix + "/" + name;
            if (m_nodes[child].folder) {
                out[path] = std::nullopt;
                walk(child, path, writtenBack, out, depth + 1);
            } else {
                out[path] = writtenBack != nullptr ? m_nodes[child].durableData : m_nodes[child].data;
            }
        }
    }
};

// Valid backups (record and payload present) by folder name, with their whole content.
std::map<std::string, std::string> completeBackups(const FaultFixture& fixture) {
    std::map<std::string, std::string> found;
    for (const char* area : {"backups", "recycled-backups"}) {
        Path folder = fixture.manager() / area;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (fs::exists(entry.path() / "metadata.json") && fs::is_directory(entry.path() / "payload")) {
                std::string name = entry.path().filename();
                EXPECT_EQ(found.count(name), 0u) << "backup " << name << " is in both areas";
                found[name] = treeState(entry.path(), "");
            }
        }
    }
    return found;
}

// What the clean run of a case showed, and where it ran.
struct Reference {
    std::unique_ptr<FaultFixture> fixture;
    std::string oldState;
    std::string newState;
    std::vector<std::string> trace;
    std::vector<Mutation> log;
    long journalAt = 0; // the call that renamed the journal into place; 0: none
    bool journalBefore = false;
    DiskImage initial;
    std::map<std::string, std::string> notes;
    std::map<std::string, std::string> backupsBefore;
    std::map<std::string, std::string> targetsBefore; // by backup kind
    // The files of each target before (relative path → content), by backup kind.
    std::map<std::string, std::map<std::string, std::string>> filesBefore;
};

struct Outcome {
    bool succeeded = false;
    std::optional<std::string> message; // what a failure reported, when it ran in this process
    bool journalPlaced = false;         // the run renamed its journal into place
    bool mustEndNew = false;            // after a power loss: the journal's removal was durable
    bool mustEndOld = false;            // after a power loss: the operation's journal was durable
};

// The files below a folder (relative path → content); none when it is no folder.
std::map<std::string, std::string> filesIn(const Path& root) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(fs::symlink_status(root))) {
        return files;
    }
    for (const auto& [relative, content] : capture(root)) {
        if (content) {
            files[relative] = *content;
        }
    }
    return files;
}

const std::string kKeptByRollback = "回滚时移出的";

// Nothing the player had is deleted by any path: each file of a target as it was before is found
// again, with its content, in that target or in a backup of its kind (recycled ones included).
void checkNothingLost(const FaultFixture& fixture, const Reference& reference) {
    std::map<std::string, std::vector<std::map<std::string, std::string>>> payloads; // by kind
    for (const char* area : {"backups", "recycled-backups"}) {
        const Path folder = fixture.manager() / area;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            try {
                const LocalBackup record = localBackupFromJson(json::decode(readFile(entry.path() / "metadata.json")));
                payloads[rawValue(record.kind)].push_back(filesIn(entry.path() / "payload"));
            } catch (const std::exception&) {
                // Not a whole backup: checked (and reported) by the invariants.
            }
        }
    }
    for (const auto& [kind, files] : reference.filesBefore) {
        const auto now = filesIn(ManagerService::targetFolder(*backupKindFromRaw(kind), fixture.client));
        for (const auto& [path, content] : files) {
            auto holds = [&](const std::map<std::string, std::string>& tree) {
                auto it = tree.find(path);
                return it != tree.end() && it->second == content;
            };
            const auto& kept = payloads[kind];
            EXPECT_TRUE(holds(now) || std::any_of(kept.begin(), kept.end(), holds))
                << "the " << kind << " file " << path << " was deleted: it is neither in the target nor in a backup";
        }
    }
}

void checkInvariants(FaultFixture& fixture, const Reference& reference,
                     const std::map<std::string, std::string>& backupsBefore) {
    checkNothingLost(fixture, reference);
    EXPECT_FALSE(fs::exists(fixture.manager() / "active.json"));
    if (fs::is_directory(fixture.manager())) {
        for (const auto& entry : fs::directory_iterator(fixture.manager())) {
            std::string name = entry.path().filename();
            EXPECT_FALSE(name.rfind("work-", 0) == 0 || name.rfind("recover-", 0) == 0 || name.rfind("trash-", 0) == 0)
                << name << " remains";
        }
    }
    for (const auto& [path, content] : snapshotTree(fixture.root)) {
        EXPECT_EQ(fs::path(path).filename().native().rfind(".olvex-tmp-", 0), std::string::npos) << path << " remains";
    }
    // A backup is in backups/ only once whole: a crash never leaves a partial one there, and a
    // backup the operation made holds the target as it was.
    if (fs::is_directory(fixture.manager() / "backups")) {
        for (const auto& entry : fs::directory_iterator(fixture.manager() / "backups")) {
            const std::string name = entry.path().filename();
            const bool whole = fs::exists(entry.path() / "metadata.json") && fs::is_directory(entry.path() / "payload");
            EXPECT_TRUE(whole) << "partial backup " << name << " in backups";
            if (whole && backupsBefore.count(name) == 0) {
                const LocalBackup record = localBackupFromJson(json::decode(readFile(entry.path() / "metadata.json")));
                // What a rollback could not prove it made is kept whatever it holds: checked by
                // checkNothingLost.
                if (record.reason.rfind(kKeptByRollback, 0) == 0) {
                    continue;
                }
                const std::string kind = rawValue(record.kind);
                auto before = reference.targetsBefore.find(kind);
                EXPECT_TRUE(before != reference.targetsBefore.end() &&
                            treeState(entry.path() / "payload", "") == before->second)
                    << "backup " << name << " does not hold the " << kind << " folder as it was";
            }
        }
    }
    auto after = completeBackups(fixture);
    for (const auto& [name, content] : backupsBefore) {
        auto it = after.find(name);
        ASSERT_NE(it, after.end()) << "backup " << name << " was lost";
        EXPECT_EQ(it->second, content) << "backup " << name << " changed";
    }
}

std::string stateOf(const FaultCase& faultCase, FaultFixture& fixture) {
    return faultCase.state ? faultCase.state(fixture) : treeState(fixture.root);
}

// Checks what the injected run reported, runs recovery with a fresh service and checks the
// result. False when recovery itself failed.
// With one fault, a failure after the journal is always rolled back and one before it never;
// with more, the rollback itself may fail.
bool verify(const FaultCase& faultCase, const Reference& reference, FaultFixture& fixture, const Outcome& outcome,
            bool onlyFault, const std::map<std::string, std::string>& backupsBefore) {
    const Path journal = fixture.manager() / "active.json";
    if (outcome.succeeded) {
        EXPECT_EQ(stateOf(faultCase, fixture), reference.newState) << "reported success without the intended result";
    } else if (outcome.message) {
        const std::string& message = *outcome.message;
        const bool rolledBack = startsWith(message, kRolledBack);
        const bool unfinished = startsWith(message, kUnfinished);
        if (!outcome.journalPlaced) {
            // A second fault may hide whether the journal got into place; rolling back then is
            // the safe answer, and its report is checked below like any other.
            EXPECT_TRUE(!unfinished && (!rolledBack || !onlyFault))
                << "a failure before the journal reported a rollback: " << message;
        } else if (onlyFault) {
            EXPECT_TRUE(rolledBack) << "a failure after the journal did not report its rollback: " << message;
        } else {
            EXPECT_TRUE(rolledBack || unfinished) << "a failure after the journal reported: " << message;
        }
        if (unfinished) {
            EXPECT_TRUE(fs::exists(journal)) << "an unfinished rollback without its journal";
        } else if (!reference.journalBefore) {
            EXPECT_FALSE(fs::exists(journal)) << "a failure left the journal: " << message;
            // A transaction never touches the target before its journal; other operations undo
            // what they did on one fault, but a second one may stop that undo.
            if (!faultCase.intermediateStatesAllowed && (onlyFault || reference.journalAt != 0)) {
                EXPECT_EQ(stateOf(faultCase, fixture), reference.oldState)
                    << "a failure with nothing left to roll back changed the target: " << message;
            }
        }
    }
    // The operation's journal on disk, however it got there, is what recovery undoes.
    const bool journalLeft = !reference.journalBefore && fs::exists(journal);
    fixture.renewService();
    try {
        if (faultCase.recovery) {
            faultCase.recovery(fixture);
        } else {
            fixture.service->recover(fixture.client);
        }
    } catch (const std::exception& error) {
        ADD_FAILURE() << "recovery failed: " << error.what();
        return false;
    }
    const std::string state = stateOf(faultCase, fixture);
    // A recovery always ends what it started: stopped anywhere, the next one finishes it.
    if (outcome.succeeded || outcome.mustEndNew || reference.journalBefore) {
        EXPECT_EQ(state, reference.newState) << "a finished operation is not in the intended state after recovery";
    } else if (outcome.mustEndOld || journalLeft) {
        EXPECT_EQ(state, reference.oldState) << "recovery did not undo a change whose journal was durable";
    } else if (!faultCase.intermediateStatesAllowed) {
        EXPECT_TRUE(state == reference.oldState || state == reference.newState)
            << "the target is neither as before nor as intended";
    }
    checkInvariants(fixture, reference, backupsBefore);
    if (faultCase.invariant) {
        faultCase.invariant(fixture);
    }
    return true;
}

std::unique_ptr<FaultFixture> prepared(const FaultCase& faultCase) {
    auto fixture = std::make_unique<FaultFixture>();
    faultCase.setup(*fixture);
    return fixture;
}

// The background deleter's detached thread may still be on its way out after the wait for the
// deletions returned, and a thread ending under ASan takes allocator locks: a child forked then
// inherits one locked and hangs at its first allocation. So a fork waits until this process is
// down to its one thread (bounded, in case something else keeps a thread).
void waitUntilSingleThreaded() {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const auto tasks = std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
        if (tasks <= 1) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Runs `body` armed with `plan`, in a child process when the plan may end the process.
Outcome runArmed(FaultFixture& fixture, const std::function<void()>& body, sys::fault::Plan plan, bool inChild) {
    Outcome outcome;
    const Path journal = fixture.manager() / "active.json";
    // Whether the journal got into place: its rename ran (the seam fails a call before the
    // injector sees it) and the injector let it pass.
    plan.inject = [&outcome, &journal, inject = plan.inject](const sys::fault::Call& call) {
        const int error = inject ? inject(call) : 0;
        if (error == 0 && call.name == std::string("rename") && call.to == journal.native()) {
            outcome.journalPlaced = true;
        }
        return error;
    };
    if (inChild) {
        fixture.service->waitForDeletions();
        waitUntilSingleThreaded();
        pid_t child = ::fork();
        if (child == 0) {
            sys::fault::arm(plan);
            try {
                body();
                fixture.service->waitForDeletions();
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        EXPECT_TRUE(code == 0 || code == 1 || code == kCrashStatus) << "the child ended with status " << status;
        outcome.succeeded = code == 0;
        return outcome;
    }
    sys::fault::arm(plan);
    try {
        body();
        outcome.succeeded = true;
    } catch (const std::exception& error) {
        outcome.message = error.what();
    }
    fixture.service->waitForDeletions();
    sys::fault::disarm();
    return outcome;
}

// One injected run on a fresh fixture, then its checks; false once a check failed (a sweep
// stops at its first failure). With more than one fault, best-effort clean-up may fail too.
bool checkedRun(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary,
                const sys::fault::Plan& plan, bool crash, bool onlyFault) {
    auto fixture = prepared(faultCase);
    auto backupsBefore = completeBackups(*fixture);
    fixture->cleanupMayFail = !onlyFault;
    Outcome outcome = runArmed(
        *fixture, [&] { faultCase.operation(*fixture); }, plan, crash);
    verify(faultCase, reference, *fixture, outcome, onlyFault, backupsBefore);
    ++summary.cases;
    return !::testing::Test::HasFailure();
}

// Calls that write file content: where a full disk shows first.
bool writesContent(const std::string& name) {
    return name == "write" || name == "copyFileRange";
}

bool releasing(const sys::fault::Call& call) {
    const std::string name = call.name;
    return name == "close" || name == "unlock";
}

Reference runReference(const FaultCase& faultCase) {
    Reference reference;
    reference.fixture = prepared(faultCase);
    FaultFixture& fixture = *reference.fixture;
    const Path journal = fixture.manager() / "active.json";
    reference.oldState = stateOf(faultCase, fixture);
    reference.notes = fixture.notes;
    reference.initial = capture(fixture.dir.path());
    reference.backupsBefore = completeBackups(fixture);
    reference.journalBefore = fs::exists(journal);
    for (BackupKind kind : {BackupKind::addons, BackupKind::wtf}) {
        const Path target = ManagerService::targetFolder(kind, fixture.client);
        if (fs::is_directory(target)) {
            reference.targetsBefore[rawValue(kind)] = treeState(target, "");
            auto& files = reference.filesBefore[rawValue(kind)] = filesIn(target);
            for (const auto& made : faultCase.madeByTheTransaction) {
                files.erase(made);
            }
        }
    }
    sys::fault::arm({.recordTrace = true, .inject = recordInto(reference.log)});
    try {
        faultCase.operation(fixture);
        // What finished work hands to the background deleter belongs to the run.
        fixture.service->waitForDeletions();
    } catch (const std::exception& error) {
        sys::fault::disarm();
        ADD_FAILURE() << faultCase.name << ": the clean run failed: " << error.what();
        reference.trace.clear();
        return reference;
    }
    reference.trace = sys::fault::trace();
    sys::fault::disarm();
    reference.newState = stateOf(faultCase, fixture);
    for (const Mutation& call : reference.log) {
        if (call.name == "rename" && call.to == journal.native()) {
            reference.journalAt = call.number;
        }
    }
    return reference;
}

void runSingle(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    long planned = 0;
    struct Report {
        FaultRunSummary& summary;
        long& planned;
        ~Report() { summary.sampling = Sample(planned, 0).describe("runs"); }
    } report{summary, planned};
    struct Mode {
        const char* label;
        int error;
    };
    for (long n = 1; n <= summary.calls; ++n) {
        const std::string& name = reference.trace[static_cast<size_t>(n - 1)];
        std::vector<Mode> modes{{"EIO", EIO}, {"crash", 0}};
        if (writesContent(name)) {
            modes.push_back({"ENOSPC", ENOSPC});
        }
        for (const Mode& mode : modes) {
            ++planned;
            SCOPED_TRACE(faultCase.name + ": " + mode.label + " at call " + std::to_string(n) + " (" + name + ")");
            const bool crash = mode.error == 0;
            if (!checkedRun(faultCase, reference, summary,
                            crash ? sys::fault::Plan{.crashAt = n} : sys::fault::Plan{.failAt = n, .error = mode.error},
                            crash, true)) {
                return;
            }
        }
    }
}

void runSecondFault(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    struct First {
        long n;
        int error;
        long calls = 0; // of the failing run alone
    };
    std::vector<First> all;
    for (long n = 1; n <= summary.calls; ++n) {
        all.push_back({n, EIO});
        if (writesContent(reference.trace[static_cast<size_t>(n - 1)])) {
            all.push_back({n, ENOSPC});
        }
    }
    std::vector<long> points;
    for (const First& first : all) {
        points.push_back(first.n);
    }
    std::string firstsDescribed;
    // First the chosen failing runs alone, to learn how many calls each makes after its failure.
    std::vector<First> firsts;
    long pairs = 0;
    for (size_t i : pickFirsts(points, reference.journalAt, "first faults", firstsDescribed)) {
        First first = all[i];
        auto fixture = prepared(faultCase);
        runArmed(
            *fixture, [&] { faultCase.operation(*fixture); },
            {.failAt = first.n, .error = first.error, .recordTrace = true}, false);
        first.calls = static_cast<long>(sys::fault::trace().size());
        pairs += std::max(0L, first.calls - first.n);
        firsts.push_back(first);
    }
    // The sample counts pairs; each sampled pair runs both second faults.
    const Sample pairSample(pairs, kPairLimit);
    summary.sampling = firstsDescribed + ", then " + pairSample.describe("later calls") + " (EIO and crash at each)";
    long index = 0;
    for (const First& first : firsts) {
        for (long m = first.n + 1; m <= first.calls; ++m) {
            if (!pairSample.picks(index++)) {
                continue;
            }
            for (bool crash : {false, true}) {
                SCOPED_TRACE(faultCase.name + ": " + (first.error == EIO ? "EIO" : "ENOSPC") + " at call " +
                             std::to_string(first.n) + ", then " + (crash ? "crash" : "EIO") + " at call " +
                             std::to_string(m));
                sys::fault::Plan plan{.failAt = first.n, .error = first.error};
                if (crash) {
                    plan.crashAt = m;
                } else {
                    plan.inject = [m](const sys::fault::Call& call) {
                        return call.number == m && !releasing(call) ? EIO : 0;
                    };
                }
                if (!checkedRun(faultCase, reference, summary, plan, crash, false)) {
                    return;
                }
            }
        }
    }
}

void runPersistent(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    struct Mode {
        const char* label;
        std::function<int(const sys::fault::Call&)> fault;
    };
    const std::vector<Mode> modes{
        {"ENOSPC from", diskFull},
        {"EROFS from", [](const sys::fault::Call& call) { return call.mutates && !releasing(call) ? EROFS : 0; }},
        {"EIO on every close from",
         [](const sys::fault::Call& call) { return call.name == std::string("close") ? EIO : 0; }},
        {"EIO on every unlink from",
         [](const sys::fault::Call& call) {
             const std::string name = call.name;
             return name == "unlink" || name == "unlinkat" ? EIO : 0;
         }},
    };
    // Every mode at each chosen call, so that no mode is left out by the stride.
    const Sample sample(summary.calls, kPersistentLimit / static_cast<long>(modes.size()));
    summary.sampling = "every mode (" + std::to_string(modes.size()) + ") from " + sample.describe("calls") +
                       ", and EIO on every unlock once";
    for (long n = 1; n <= summary.calls; n += sample.stride) {
        for (const Mode& mode : modes) {
            SCOPED_TRACE(faultCase.name + ": " + mode.label + " call " + std::to_string(n));
            auto inject = [n, fault = mode.fault](const sys::fault::Call& call) {
                return call.number >= n ? fault(call) : 0;
            };
            if (!checkedRun(faultCase, reference, summary, {.inject = inject}, false, false)) {
                return;
            }
        }
    }
    // Uncounted, the unlock has no call number: it fails in one run of its own.
    SCOPED_TRACE(faultCase.name + ": EIO on every unlock");
    checkedRun(faultCase, reference, summary,
               {.inject = [](const sys::fault::Call& call) { return call.name == std::string("unlock") ? EIO : 0; }},
               false, false);
}

void runDoubleCrash(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    // What each sampled first crash left, and how many calls its recovery makes.
    struct Crashed {
        long n;
        DiskImage image;
        std::map<std::string, std::string> notes;
        std::map<std::string, std::string> backupsBefore;
        long recoveryCalls;
    };
    std::vector<long> points;
    for (long n = 1; n <= summary.calls; ++n) {
        points.push_back(n);
    }
    std::string firstsDescribed;
    std::vector<Crashed> crashes;
    long pairs = 0;
    for (size_t i : pickFirsts(points, reference.journalAt, "crashes", firstsDescribed)) {
        const long n = points[i];
        auto fixture = prepared(faultCase);
        auto backupsBefore = completeBackups(*fixture);
        runArmed(
            *fixture, [&] { faultCase.operation(*fixture); }, {.crashAt = n}, true);
        DiskImage image = capture(fixture->dir.path());
        fixture->renewService();
        runArmed(
            *fixture, [&] { fixture->service->recover(fixture->client); }, {.recordTrace = true}, false);
        const long calls = static_cast<long>(sys::fault::trace().size());
        pairs += calls;
        crashes.push_back({n, std::move(image), fixture->notes, std::move(backupsBefore), calls});
    }
    const Sample pairSample(pairs, kPairLimit);
    summary.sampling = firstsDescribed + ", then " + pairSample.describe("calls of their recovery");
    // Each pair starts again from the image the first crash left, in a folder of the same depth.
    FaultFixture fixture;
    long index = 0;
    for (const Crashed& crashed : crashes) {
        for (long m = 1; m <= crashed.recoveryCalls; ++m) {
            if (!pairSample.picks(index++)) {
                continue;
            }
            SCOPED_TRACE(faultCase.name + ": crash at call " + std::to_string(crashed.n) + ", then at call " +
                         std::to_string(m) + " of the recovery");
            restore(fixture.dir.path(), crashed.image);
            fixture.notes = crashed.notes;
            fixture.renewService();
            runArmed(
                fixture, [&] { fixture.service->recover(fixture.client); }, {.crashAt = m}, true);
            verify(faultCase, reference, fixture, {}, false, crashed.backupsBefore);
            ++summary.cases;
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

// The power fails before each call from `first` on of a recorded run on `fixture`, whose folder
// held `initial` before it: every distinct disk state the model allows is restored there and
// checked. `failed`: the run reported a failure, so a durable removal of its journal was its
// rollback's. `faultInjected`: the run met an injected fault (whether it failed or not). Returns the points and disk
// states tried.
std::pair<long, long> sweepPowerLoss(const FaultCase& faultCase, const Reference& reference, FaultFixture& fixture,
                                     const std::map<std::string, std::string>& notes, const DiskImage& initial,
                                     const std::vector<Mutation>& log, long calls, long first, bool failed,
                                     bool faultInjected, const std::map<std::string, std::string>& backupsBefore,
                                     FaultRunSummary& summary) {
    const Path base = fixture.dir.path();
    {
        // The model must replay the run exactly, or what it keeps after a power loss means
        // nothing.
        DiskModel whole(base, initial);
        for (const Mutation& call : log) {
            whole.apply(call);
        }
        const DiskImage disk = capture(base);
        const DiskImage replayed = whole.visible();
        for (const auto& [path, content] : disk) {
            auto it = replayed.find(path);
            EXPECT_TRUE(it != replayed.end() && it->second == content) << path << " differs in the model";
        }
        for (const auto& [path, content] : replayed) {
            EXPECT_EQ(disk.count(path), 1u) << path << " is only in the model";
        }
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "the power-loss model does not replay the run";
            return {0, 0};
        }
    }
    const std::string journal = (fixture.manager() / "active.json").native();
    const std::string journalEntry = fs::relative(journal, base).native();
    DiskModel model(base, initial);
    bool journalRemoved = false;
    auto next = log.begin();
    // Points whose disk states were all checked before add no run.
    std::set<std::string> seen;
    long states = 0;
    for (long n = 1; n <= calls + 1; ++n) {
        for (; next != log.end() && next->number < n; ++next) {
            model.apply(*next);
            journalRemoved = journalRemoved || (next->name == "unlink" && next->path == journal);
        }
        if (n < first) {
            continue;
        }
        for (const auto& writtenBack : model.writeBacks()) {
            DiskImage durable = model.durable(writtenBack);
            ++states;
            // The point after the run is held to what the run reported, which no earlier one is.
            std::string key = n == calls + 1 ? "returned\n" : "";
            key += durable.count(journalEntry) == 0 && journalRemoved ? "removed\n" : "\n";
            for (const auto& [path, content] : durable) {
                key += path + (content ? "\n" + std::to_string(content->size()) + "\n" + *content : "/") + "\n";
            }
            if (!seen.insert(std::move(key)).second) {
                continue;
            }
            SCOPED_TRACE(faultCase.name + ": power lost before call " + std::to_string(n) + " with " +
                         std::to_string(writtenBack.size()) + " folders written back unflushed");
            restore(base, durable);
            fixture.notes = notes;
            Outcome outcome;
            const bool removedDurably = journalRemoved && durable.count(journalEntry) == 0;
            outcome.mustEndNew = removedDurably && !failed;
            outcome.mustEndOld =
                !reference.journalBefore && (durable.count(journalEntry) != 0 || (removedDurably && failed));
            // Power lost after the run returned: what it reported must hold, with or without a
            // journal (a manual backup reported made must still be listed). Not for a success
            // despite an injected fault: one that only failed to flush the journal's removal is
            // reported as done, and a power loss may then undo it whole.
            if (n == calls + 1) {
                outcome.succeeded = !failed && !faultInjected;
                outcome.mustEndOld = failed && !faultCase.intermediateStatesAllowed;
            }
            verify(faultCase, reference, fixture, outcome, false, backupsBefore);
            ++summary.cases;
            if (::testing::Test::HasFailure()) {
                return {calls + 2 - first, states};
            }
        }
    }
    return {calls + 2 - first, states};
}

void runPowerLoss(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    // OLVEX_FAULT_DROP_FLUSH=k: the model forgets the k-th flush of the run, as if the code did
    // not make it, to learn which flushes the row depends on (a manual check, never in CI).
    if (const char* drop = std::getenv("OLVEX_FAULT_DROP_FLUSH"); drop != nullptr) {
        std::vector<Mutation> log = reference.log;
        long k = std::atol(drop);
        for (auto it = log.begin(); it != log.end(); ++it) {
            if ((it->name == "fsync" || it->name == "syncfs") && --k == 0) {
                std::printf("[ dropped  ] flush %s of %s at call %ld\n", drop, it->path.c_str(), it->number);
                log.erase(it);
                break;
            }
        }
        if (k > 0) {
            std::printf("[ dropped  ] none: fewer flushes\n");
        }
        sweepPowerLoss(faultCase, reference, *reference.fixture, reference.notes, reference.initial, log, summary.calls,
                       1, false, false, reference.backupsBefore, summary);
        return;
    }
    auto [points, states] =
        sweepPowerLoss(faultCase, reference, *reference.fixture, reference.notes, reference.initial, reference.log,
                       summary.calls, 1, false, false, reference.backupsBefore, summary);
    summary.sampling = "all " + std::to_string(points) + " points of power loss, " + std::to_string(states) +
                       " disk states, the distinct ones";
}

// A failing run's own flushes (its rollback's) must hold as well: the first fault, then the
// power loss at each later point of that run. Where the journal stays (a second fault at one of
// the rollback's flushes), the recovery that follows is swept as well.
void runFailedPowerLoss(const FaultCase& faultCase, const Reference& reference, FaultRunSummary& summary) {
    std::vector<long> points;
    for (long n = 1; n <= summary.calls; ++n) {
        points.push_back(n);
    }
    long tried = 0;
    long states = 0;
    // One failing run, the recovery after it when its journal stayed, then the power losses.
    // Returns the names of the failing run's calls.
    auto sweep = [&](long n, long second) {
        auto fixture = prepared(faultCase);
        const auto notes = fixture->notes;
        const DiskImage initial = capture(fixture->dir.path());
        // Each fixture's setup may make its own backups, under their own ids.
        const auto backupsBefore = completeBackups(*fixture);
        std::vector<Mutation> log;
        auto record = recordInto(log);
        Outcome outcome = runArmed(
            *fixture, [&] { faultCase.operation(*fixture); },
            {.failAt = n,
             .recordTrace = true,
             .inject =
                 [&](const sys::fault::Call& call) {
                     return call.number == second && !releasing(call) ? EIO : record(call);
                 }},
            false);
        const std::vector<std::string> names = sys::fault::trace();
        long calls = static_cast<long>(names.size());
        if (fs::exists(fixture->manager() / "active.json")) {
            std::vector<Mutation> recovery;
            fixture->renewService();
            sys::fault::arm({.recordTrace = true, .inject = recordInto(recovery)});
            try {
                if (faultCase.recovery) {
                    faultCase.recovery(*fixture);
                } else {
                    fixture->service->recover(fixture->client);
                }
            } catch (const std::exception& error) {
                ADD_FAILURE() << "recovery failed: " << error.what();
            }
            fixture->service->waitForDeletions();
            for (Mutation& call : recovery) {
                call.number += calls;
                log.push_back(std::move(call));
            }
            calls += static_cast<long>(sys::fault::trace().size());
            sys::fault::disarm();
        }
        auto [pointsTried, statesTried] = sweepPowerLoss(faultCase, reference, *fixture, notes, initial, log, calls, n,
                                                         !outcome.succeeded, true, backupsBefore, summary);
        tried += pointsTried;
        states += statesTried;
        return names;
    };
    std::string described;
    std::vector<std::pair<long, long>> flushFaults; // a first fault and a later flush of its run
    // Besides the sample, every call where durability is decided (statfs: how the operation
    // flushes) and, after the journal, every flush and removal (the swap's and the commit's).
    std::vector<size_t> firsts = pickFirsts(points, reference.journalAt, "first faults", described, kFailedFirstLimit);
    long added = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const std::string& name = reference.trace[i];
        const bool durability = name == "statfs" || (reference.journalAt != 0 && points[i] > reference.journalAt &&
                                                     (name == "fsync" || name == "syncfs" || name == "unlink"));
        if (durability && std::find(firsts.begin(), firsts.end(), i) == firsts.end()) {
            firsts.push_back(i);
            ++added;
        }
    }
    std::sort(firsts.begin(), firsts.end());
    described += " and " + std::to_string(added) + " more at statfs and after the journal at each flush and removal";
    for (size_t i : firsts) {
        const long n = points[i];
        SCOPED_TRACE(faultCase.name + ": EIO at call " + std::to_string(n));
        const auto names = sweep(n, 0);
        if (::testing::Test::HasFailure()) {
            return;
        }
        for (long m = n + 1;
             reference.journalAt != 0 && n > reference.journalAt && m <= static_cast<long>(names.size()); ++m) {
            const std::string& name = names[static_cast<size_t>(m - 1)];
            if (name == "fsync" || name == "syncfs") {
                flushFaults.emplace_back(n, m);
            }
        }
    }
    const Sample pairs(static_cast<long>(flushFaults.size()), kFlushFaultLimit);
    for (long i = 0; i < pairs.planned; i += pairs.stride) {
        const auto [n, m] = flushFaults[static_cast<size_t>(i)];
        SCOPED_TRACE(faultCase.name + ": EIO at call " + std::to_string(n) + ", then EIO at its flush at call " +
                     std::to_string(m));
        sweep(n, m);
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
    summary.sampling = described + ", " + pairs.describe("later flushes of those after the journal failing too") +
                       ", then all " + std::to_string(tried) + " later points of power loss (the recovery's too), " +
                       std::to_string(states) + " disk states, the distinct ones";
}

} // namespace

const char* rowName(FaultRow row) {
    switch (row) {
    case FaultRow::single:
        return "single";
    case FaultRow::secondFault:
        return "secondFault";
    case FaultRow::persistent:
        return "persistent";
    case FaultRow::doubleCrash:
        return "doubleCrash";
    case FaultRow::powerLoss:
        return "powerLoss";
    case FaultRow::powerLossPerFile:
        return "powerLossPerFile";
    case FaultRow::failedPowerLoss:
        return "failedPowerLoss";
    case FaultRow::failedPowerLossPerFile:
        return "failedPowerLossPerFile";
    }
    return "";
}

int diskFull(const sys::fault::Call& call) {
    const std::string name = call.name;
    return call.mutates && name != "rename" && name != "unlink" && name != "unlinkat" && name != "rmdir" &&
                   name != "chmod" && name != "fchmodat" && !releasing(call)
               ? ENOSPC
               : 0;
}

FaultFixture::FaultFixture() : root(dir / "_retail_"), temporary(dir / "tmp"), client(root) {
    makeDirs(root);
    makeDirs(temporary);
    writeFile(root / "Wow.exe", "game");
    renewService();
}

void FaultFixture::renewService() {
    service = std::make_unique<ManagerService>(ManagerService::Capacity{}, ManagerService::Hook{}, temporary);
}

FaultRunSummary runFaultRow(const FaultCase& faultCase, FaultRow row) {
    const char* flush = std::getenv("OLVEX_FAULT_FLUSH");
    const bool perFile = row == FaultRow::powerLossPerFile || row == FaultRow::failedPowerLossPerFile ||
                         (flush != nullptr && std::string(flush) == "perFile");
    // Set for the reference run and every injected run alike; the forked runs inherit it.
    sys::fault::reportFuse(perFile);
    struct Reset {
        ~Reset() { sys::fault::reportFuse(false); }
    } reset;
    FaultRunSummary summary;
    summary.perFile = perFile;
    Reference reference = runReference(faultCase);
    summary.calls = static_cast<long>(reference.trace.size());
    if (summary.calls == 0) {
        return summary;
    }
    switch (row) {
    case FaultRow::single:
        runSingle(faultCase, reference, summary);
        break;
    case FaultRow::secondFault:
        runSecondFault(faultCase, reference, summary);
        break;
    case FaultRow::persistent:
        runPersistent(faultCase, reference, summary);
        break;
    case FaultRow::doubleCrash:
        runDoubleCrash(faultCase, reference, summary);
        break;
    case FaultRow::powerLoss:
    case FaultRow::powerLossPerFile:
        runPowerLoss(faultCase, reference, summary);
        break;
    case FaultRow::failedPowerLoss:
    case FaultRow::failedPowerLossPerFile:
        runFailedPowerLoss(faultCase, reference, summary);
        break;
    }
    return summary;
}

#else

const char* rowName(FaultRow) {
    return "";
}
FaultFixture::FaultFixture() : root(dir / "_retail_"), temporary(dir / "tmp"), client(root) {}
void FaultFixture::renewService() {}
FaultRunSummary runFaultRow(const FaultCase&, FaultRow) {
    ADD_FAILURE() << "fault injection needs a build with OLVEX_FAULT_INJECTION";
    return {};
}

#endif

std::string treeState(const Path& root, const std::string& skipTopLevel) {
    std::string out;
    for (const auto& [path, content] : snapshotTree(root)) {
        if (!skipTopLevel.empty() && (path == skipTopLevel || path.rfind(skipTopLevel + "/", 0) == 0)) {
            continue;
        }
        out += path + "\n" + std::to_string(content.size()) + "\n" + content + "\n";
    }
    return out;
}

} // namespace olvex::test
