#include "support/FaultHarness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "records/Sys.h"

namespace olvex::test {

#ifdef OLVEX_FAULT_INJECTION

namespace {

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

void checkInvariants(FaultFixture& fixture, const std::map<std::string, std::string>& backupsBefore,
                     const std::string& where) {
    SCOPED_TRACE(where);
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
    // A backup is in backups/ only once whole: a crash never leaves a partial one there.
    if (fs::is_directory(fixture.manager() / "backups")) {
        for (const auto& entry : fs::directory_iterator(fixture.manager() / "backups")) {
            EXPECT_TRUE(fs::exists(entry.path() / "metadata.json") && fs::is_directory(entry.path() / "payload"))
                << "partial backup " << entry.path().filename() << " in backups";
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

} // namespace

int diskFull(const sys::fault::Call& call) {
    const std::string name = call.name;
    return call.mutates && name != "rename" && name != "unlink" && name != "unlinkat" && name != "rmdir" &&
                   name != "fchmodat"
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

FaultRunSummary runFaultCase(const FaultCase& faultCase) {
    FaultRunSummary summary;
    std::string oldState;
    std::string newState;
    std::vector<std::string> trace;
    {
        FaultFixture reference;
        faultCase.setup(reference);
        oldState = stateOf(faultCase, reference);
        sys::fault::arm({.recordTrace = true});
        try {
            faultCase.operation(reference);
            reference.service->waitForDeletions();
        } catch (const std::exception& error) {
            sys::fault::disarm();
            ADD_FAILURE() << faultCase.name << ": the clean run failed: " << error.what();
            return summary;
        }
        trace = sys::fault::trace();
        sys::fault::disarm();
        newState = stateOf(faultCase, reference);
    }
    summary.calls = static_cast<long>(trace.size());

    struct Mode {
        const char* label;
        int error;
        bool crash;
    };
    for (long n = 1; n <= summary.calls; ++n) {
        std::vector<Mode> modes{{"EIO", EIO, false}, {"crash", 0, true}};
        if (trace[static_cast<size_t>(n - 1)] == "write") {
            modes.push_back({"ENOSPC", ENOSPC, false});
        }
        for (const Mode& mode : modes) {
            std::string where = faultCase.name + ": " + mode.label + " at call " + std::to_string(n) + " (" +
                                trace[static_cast<size_t>(n - 1)] + ")";
            SCOPED_TRACE(where);
            FaultFixture fixture;
            faultCase.setup(fixture);
            auto backupsBefore = completeBackups(fixture);
            bool succeeded = false;
            if (mode.crash) {
                pid_t child = ::fork();
                if (child == 0) {
                    sys::fault::arm({.crashAt = n});
                    try {
                        faultCase.operation(fixture);
                        fixture.service->waitForDeletions();
                    } catch (...) {
                        ::_exit(1);
                    }
                    ::_exit(0);
                }
                int status = 0;
                ::waitpid(child, &status, 0);
                succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            } else {
                sys::fault::arm({.failAt = n, .error = mode.error});
                try {
                    faultCase.operation(fixture);
                    succeeded = true;
                } catch (const std::exception&) {
                }
                fixture.service->waitForDeletions();
                sys::fault::disarm();
            }
            if (succeeded) {
                EXPECT_EQ(stateOf(faultCase, fixture), newState) << "reported success without the intended result";
            }
            fixture.renewService();
            try {
                fixture.service->recover(fixture.client);
            } catch (const std::exception& error) {
                ADD_FAILURE() << "recovery failed: " << error.what();
                return summary;
            }
            std::string state = stateOf(faultCase, fixture);
            if (!faultCase.intermediateStatesAllowed) {
                EXPECT_TRUE(state == oldState || state == newState)
                    << "the target is neither as before nor as intended";
            }
            checkInvariants(fixture, backupsBefore, where);
            if (faultCase.invariant) {
                faultCase.invariant(fixture);
            }
            ++summary.cases;
            if (::testing::Test::HasFailure()) {
                return summary;
            }
        }
    }
    return summary;
}

#else

FaultFixture::FaultFixture() : root(dir / "_retail_"), temporary(dir / "tmp"), client(root) {}
void FaultFixture::renewService() {}
FaultRunSummary runFaultCase(const FaultCase&) {
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
