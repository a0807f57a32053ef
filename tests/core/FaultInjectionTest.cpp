// Every changing operation, under every injected file-system failure and crash: the version
// folder ends as before or as intended, and no backup is ever lost. Each operation that
// changes a version folder or the backup store adds its row to the table below.

#include <gtest/gtest.h>

#include "records/FileSafety.h"
#include "records/Json.h"
#include "support/FaultHarness.h"

using namespace olvex;
using namespace olvex::test;

namespace {

void fillAddons(const Path& folder) {
    writeFile(folder / "Alpha/Alpha.toc", "## Title: Alpha\n");
    writeFile(folder / "Alpha/libs/deep/lib.lua", "return 1");
    writeFile(folder / "Beta/.hidden", "h");
    makeDirs(folder / "Empty");
}

void replaceAddons(FaultFixture& f) {
    f.service->locked(f.client, [&] {
        f.service->transaction(BackupKind::addons, f.client, "测试", [&](const Path& next) {
            FileSafety::copyTree(f.addons(), next, nullptr, FileSafety::Flush::deferred);
            FileSafety::remove(next / "Beta");
            writeFile(next / "Gamma/Gamma.toc", "## Title: Gamma\n");
        });
    });
}

// A WTF folder with two characters, account-wide data and a hidden file.
void fillWtf(const Path& wtf) {
    writeFile(wtf / "Config.wtf", "SET a \"1\"\n");
    writeFile(wtf / "Account/ACCT/SavedVariables/Addon.lua", "Addon = {}\n");
    writeFile(wtf / "Account/ACCT/realm/hero1/chat.txt", "one");
    writeFile(wtf / "Account/ACCT/realm/hero2/chat.txt", "two");
    writeFile(wtf / "Account/ACCT/.hidden", "h");
}

// Backs up WTF, then changes it so that putting the backup back is a visible change. The
// backup's record is handed to the operation through the fixture's notes.
void backUpAndChangeWtf(FaultFixture& f) {
    fillWtf(f.root / "WTF");
    LocalBackup backup =
        f.service->locked(f.client, [&] { return f.service->snapshot(BackupKind::wtf, f.client, "测试"); });
    f.notes["backup"] = json::encode(toJson(backup));
    writeFile(f.root / "WTF/Config.wtf", "SET a \"2\"\n");
    writeFile(f.root / "WTF/Account/ACCT/realm/hero1/extra.txt", "extra");
    writeFile(f.root / "WTF/Account/ACCT/realm/hero2/chat.txt", "changed");
    fs::remove(f.root / "WTF/Account/ACCT/.hidden");
}

LocalBackup noted(const FaultFixture& f) {
    return localBackupFromJson(json::decode(f.notes.at("backup")));
}

Path exportDestination(const FaultFixture& f) {
    return f.dir / "out" / "pkg.olvexbackup";
}

std::vector<FaultCase> faultCases() {
    return {
        {
            .name = "transaction replacing Interface/AddOns",
            .setup = [](FaultFixture& f) { fillAddons(f.addons()); },
            .operation = replaceAddons,
        },
        {
            .name = "transaction creating a missing WTF",
            .setup = [](FaultFixture& f) { fillAddons(f.addons()); },
            .operation =
                [](FaultFixture& f) {
                    f.service->locked(f.client, [&] {
                        f.service->transaction(BackupKind::wtf, f.client, "测试", [&](const Path& next) {
                            writeFile(next / "Config.wtf", "SET a \"1\"\n");
                            writeFile(next / "Account/ALICE/bindings-cache.wtf", "b");
                        });
                    });
                },
        },
        {
            .name = "recovery of an interrupted transaction",
            .setup =
                [](FaultFixture& f) {
                    fillAddons(f.addons());
                    LocalBackup backup = f.service->locked(
                        f.client, [&] { return f.service->snapshot(BackupKind::addons, f.client, "测试"); });
                    writeFile(f.manager() / "active.json", R"({"kind":"addons","backup":")" + backup.id.text() + "\"}");
                    fs::remove_all(f.addons() / "Alpha/libs");
                    writeFile(f.addons() / "Half/x.lua", "half");
                },
            .operation = [](FaultFixture& f) { f.service->recover(f.client); },
        },
        {
            .name = "whole restore of a WTF backup",
            .setup = backUpAndChangeWtf,
            .operation = [](FaultFixture& f) { f.service->restore(noted(f), f.client, std::nullopt); },
        },
        {
            .name = "restore of one character",
            .setup = backUpAndChangeWtf,
            .operation = [](FaultFixture& f) { f.service->restore(noted(f), f.client, "Account/ACCT/realm/hero1"); },
        },
        {
            .name = "import of an exported WTF backup",
            .setup =
                [](FaultFixture& f) {
                    backUpAndChangeWtf(f);
                    f.service->exportBackup(noted(f), f.client, f.dir / "pkg");
                },
            .operation = [](FaultFixture& f) { f.service->importWTF(f.dir / "pkg", f.client); },
        },
        {
            .name = "export of a backup",
            .setup =
                [](FaultFixture& f) {
                    backUpAndChangeWtf(f);
                    makeDirs(f.dir / "out");
                    f.notes["manager"] = treeState(f.manager(), "");
                },
            .operation =
                [](FaultFixture& f) {
                    // Set only in this process: a run ended by an injected crash never sets it.
                    f.notes["in process"] = "yes";
                    f.service->exportBackup(noted(f), f.client, exportDestination(f));
                },
            .state = [](FaultFixture& f) { return treeState(f.root) + "\n--\n" + treeState(exportDestination(f), ""); },
            .invariant =
                [](FaultFixture& f) {
                    EXPECT_EQ(treeState(f.manager(), ""), f.notes.at("manager")) << "the manager folder was written";
                    for (const auto& entry : fs::directory_iterator(f.dir / "out")) {
                        std::string name = entry.path().filename();
                        if (name == exportDestination(f).filename()) {
                            continue;
                        }
                        // Only a process that died mid-copy can leave its staging folder.
                        EXPECT_TRUE(name.rfind(".olvex-export-", 0) == 0 && f.notes.count("in process") == 0)
                            << name << " left beside the destination";
                    }
                },
        },
    };
}

class FaultInjection : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultInjection, EndsAsBeforeOrAsIntendedAndKeepsEveryBackup) {
    FaultRunSummary summary = runFaultCase(GetParam());
    std::printf("[ fault    ] %s: %ld calls, %ld injected runs checked\n", GetParam().name.c_str(), summary.calls,
                summary.cases);
    EXPECT_GT(summary.cases, 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultInjection, ::testing::ValuesIn(faultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& param) {
                             std::string name;
                             for (char c : param.param.name) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

} // namespace
