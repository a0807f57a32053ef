// Every changing operation, under every injected file-system failure and crash: the version
// folder ends as before or as intended, and no backup is ever lost. Each operation that
// changes a version folder or the backup store adds its row to the table below.

#include <gtest/gtest.h>

#include <cstdio>

#include "base/Json.h"
#include "fs/FileSafety.h"
#include "packs/FileDigests.h"
#include "packs/PackRegistry.h"
#include "support/FaultHarness.h"
#include "support/ZipBuilder.h"

using namespace olvex;
using namespace olvex::test;

namespace {

void fillAddons(const Path& folder) {
    writeFile(folder / "Alpha/Alpha.toc", "## Title: Alpha\n");
    writeFile(folder / "Alpha/libs/deep/lib.lua", "return 1");
    writeFile(folder / "Beta/.hidden", "h");
    makeDirs(folder / "Empty");
}

// Build steps write as the product does, through the file-system seam, so that the power-loss
// model sees their files.
void writeBuilt(const Path& file, const std::string& text) {
    FileSafety::directory(file.parent_path());
    FileSafety::writeFileAtomically(file, text);
}

void replaceAddons(FaultFixture& f) {
    f.service->locked(f.client, [&] {
        f.service->transaction(BackupKind::addons, f.client, "测试", [&](const Path& next) {
            FileSafety::copyTree(f.addons(), next, nullptr, FileSafety::Flush::deferred);
            FileSafety::remove(next / "Beta");
            writeBuilt(next / "Gamma/Gamma.toc", "## Title: Gamma\n");
        });
    });
}

// A backup record that is the same in every fixture, so that states compare across runs.
LocalBackup fixedBackup(int n, BackupKind kind) {
    char id[37];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    return LocalBackup{*Uuid::parse(id), Date{1000.0 + n}, kind, "测试", 16};
}

LocalBackup plantBackup(FaultFixture& f, int n, BackupKind kind) {
    LocalBackup record = fixedBackup(n, kind);
    Path folder = f.manager() / "backups" / record.id.text();
    writeFile(folder / "metadata.json", json::encode(toJson(record)));
    writeFile(folder / "payload/Alpha/Alpha.toc", "## Title: " + std::to_string(n) + "\n");
    return record;
}

// Both areas of the backup store, whole.
std::string storeState(FaultFixture& f) {
    return "backups\n" + treeState(f.manager() / "backups", "") + "recycled-backups\n" +
           treeState(f.manager() / "recycled-backups", "");
}

// The version folder and the listed backups, without what differs between runs (id, date).
std::string listedState(FaultFixture& f) {
    std::string out = treeState(f.root);
    for (const auto& backup : f.service->backups(f.client)) {
        out += rawValue(backup.kind) + " " + backup.reason + " " + std::to_string(backup.byteCount.value_or(-1)) +
               "\n" + treeState(ManagerService::backupFolder(f.client, backup.id) / "payload", "");
    }
    return out;
}

// A pack "pack.a" that ships Alpha and retired Old, whose folder is still as installed. Kept
// small: every file adds some forty calls to the sweep.
void retireOld(FaultFixture& f) {
    writeFile(f.addons() / "Alpha/Alpha.toc", "## Title: Alpha\n");
    writeFile(f.addons() / "Old/Old.toc", "## Title: Old\n");
    writeFile(f.addons() / "Old/libs/.hidden", "h");
    makeDirs(f.addons() / "Old/empty");
    ManagedPack pack;
    pack.manifest = PackManifest{"pack.a", "包", "2.0", "_retail_", ""};
    pack.addons = {"Alpha"};
    pack.digests["Alpha"] = fileDigests(f.addons() / "Alpha");
    pack.retired["Old"] = fileDigests(f.addons() / "Old");
    writeRegistry({pack}, f.addons());
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
                            writeBuilt(next / "Config.wtf", "SET a \"1\"\n");
                            writeBuilt(next / "Account/ALICE/bindings-cache.wtf", "b");
                        });
                    });
                },
        },
        {
            // A client without Interface: the target's parent is created after the volume flush
            // and must be made durable on its own.
            .name = "transaction creating Interface/AddOns in a client without Interface",
            .setup = [](FaultFixture&) {},
            .operation =
                [](FaultFixture& f) {
                    f.service->locked(f.client, [&] {
                        f.service->transaction(BackupKind::addons, f.client, "测试", [&](const Path& next) {
                            writeBuilt(next / "Alpha/Alpha.toc", "## Title: Alpha\n");
                        });
                    });
                },
            .state =
                [](FaultFixture& f) {
                    // A rollback removes what it put in place, not the folder that holds it: an
                    // empty Interface, which the game makes itself, counts as none.
                    const Path interface = f.root / "Interface";
                    std::string state = treeState(f.root);
                    if (fs::is_directory(interface) && fs::is_empty(interface)) {
                        state.erase(state.find("Interface\n5\n<dir>\n"), 18);
                    }
                    return state;
                },
        },
        {
            // The player sets a damaged journal aside, then recovers.
            .name = "setting a damaged journal aside",
            .setup =
                [](FaultFixture& f) {
                    fillAddons(f.addons());
                    writeFile(f.manager() / "active.json", "{\"kind\":");
                },
            .operation = [](FaultFixture& f) { f.service->setAsideJournal(f.client); },
            .state =
                [](FaultFixture& f) {
                    // The set-aside name carries the time it was set aside; the content says
                    // which journal it is.
                    std::string state = treeState(f.root);
                    for (const auto& entry : fs::directory_iterator(f.manager())) {
                        const std::string name = entry.path().filename();
                        if (name.rfind("active.json", 0) == 0) {
                            state +=
                                (name == "active.json" ? name : "set aside") + "\n" + readFile(entry.path()) + "\n";
                        }
                    }
                    return state;
                },
            .recovery =
                [](FaultFixture& f) {
                    if (fs::exists(f.manager() / "active.json")) {
                        f.service->setAsideJournal(f.client);
                    }
                    f.service->recover(f.client);
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
            // A transaction that created a folder, stopped before it finished: nothing proves that
            // the folder there is its work, so recovery moves it into the backup store.
            .name = "recovery of an interrupted creation",
            .setup =
                [](FaultFixture& f) {
                    writeFile(f.root / "WTF/Config.wtf", "SET a \"1\"\n");
                    writeFile(f.root / "WTF/Account/ALICE/bindings-cache.wtf", "b");
                    writeFile(f.manager() / "active.json", R"({"kind":"wtf"})");
                },
            .operation = [](FaultFixture& f) { f.service->recover(f.client); },
            // Its one removal and two flushes each end it at once.
            .noSecondFault = true,
        },
        {
            // Stopped after the swap: the old folder is set aside in the work folder the journal
            // names and the new one is in place; recovery renames them back.
            .name = "recovery of an interrupted swap",
            .setup =
                [](FaultFixture& f) {
                    fillAddons(f.addons());
                    LocalBackup backup = f.service->locked(
                        f.client, [&] { return f.service->snapshot(BackupKind::addons, f.client, "测试"); });
                    const std::string work = Uuid::random().text();
                    makeDirs(f.manager() / ("work-" + work));
                    fs::rename(f.addons(), f.manager() / ("work-" + work) / "previous");
                    writeFile(f.addons() / "Gamma/Gamma.toc", "## Title: Gamma\n");
                    writeFile(f.manager() / "active.json",
                              R"({"kind":"addons","backup":")" + backup.id.text() + R"(","work":")" + work + "\"}");
                },
            .operation = [](FaultFixture& f) { f.service->recover(f.client); },
            .madeByTheTransaction = {"Gamma/Gamma.toc"},
        },
        {
            .name = "pack installation over an add-on folder with a registry",
            .setup =
                [](FaultFixture& f) {
                    // The registry records when the pack was installed: every run installs at
                    // the same instant, so that the states compare whole.
                    f.service = std::make_unique<ManagerService>(ManagerService::Capacity{}, ManagerService::Hook{},
                                                                 f.temporary, [] { return Date{800'000'000.5}; });
                    fillAddons(f.addons());
                    writeFile(f.addons() / ".olvex-installed-packs.json", "[]");
                    Path zip = f.dir / "pack.zip";
                    writeZip(zip, {ZipEntry::file("AddOns/alpha/alpha.toc", "## Title: new alpha\n"),
                                   ZipEntry::file("AddOns/Delta/Delta.toc", "## Title: Delta\n"),
                                   ZipEntry::file("AddOns/.olvex-pack.json",
                                                  R"({"identifier":"pack.one","name":"整合包","version":"2",)"
                                                  R"("gameFlavor":"_retail_","source":""})")});
                    f.notes["token"] = f.service->preview(zip, f.client).token.text();
                },
            .operation = [](FaultFixture& f) { f.service->install(*Uuid::parse(f.notes["token"])); },
        },
        {
            .name = "manual WTF backup",
            .setup =
                [](FaultFixture& f) {
                    writeFile(f.root / "WTF/Config.wtf", "SET a \"1\"\n");
                    writeFile(f.root / "WTF/Account/ALICE/SavedVariables/Alpha.lua", "Alpha = {}");
                    plantBackup(f, 1, BackupKind::wtf);
                },
            .operation = [](FaultFixture& f) { f.service->backupWTF(f.client); },
            .state = listedState,
        },
        {
            // The second backup shares every file but the changed one with the first.
            .name = "WTF backup sharing unchanged files with an earlier one",
            .setup =
                [](FaultFixture& f) {
                    fillWtf(f.root / "WTF");
                    f.service->locked(f.client, [&] { f.service->snapshot(BackupKind::wtf, f.client, "测试"); });
                    writeFile(f.root / "WTF/Account/ACCT/realm/hero2/chat.txt", "TWO");
                },
            .operation = [](FaultFixture& f) { f.service->backupWTF(f.client); },
            .state = listedState,
        },
        {
            .name = "recycling one backup",
            .setup =
                [](FaultFixture& f) {
                    plantBackup(f, 1, BackupKind::addons);
                    plantBackup(f, 2, BackupKind::addons);
                },
            .operation =
                [](FaultFixture& f) { f.service->recycleBackup(fixedBackup(1, BackupKind::addons), f.client); },
            .state = storeState,
            // It stops at once on any failure.
            .noSecondFault = true,
        },
        {
            .name = "thinning to the newest backup",
            .setup =
                [](FaultFixture& f) {
                    for (int n = 1; n <= 3; ++n) {
                        plantBackup(f, n, BackupKind::wtf);
                    }
                },
            .operation = [](FaultFixture& f) { f.service->retainBackups(1, f.client); },
            .state = storeState,
            .intermediateStatesAllowed = true,
            .invariant =
                [](FaultFixture& f) {
                    // Thinning may stop part-way, but never sets the newest aside.
                    auto listed = f.service->backups(f.client);
                    ASSERT_FALSE(listed.empty());
                    EXPECT_EQ(listed.front(), fixedBackup(3, BackupKind::wtf));
                },
            .noSecondFault = true,
        },
        {
            .name = "bringing recycled backups back",
            .setup =
                [](FaultFixture& f) {
                    for (int n = 1; n <= 3; ++n) {
                        plantBackup(f, n, n == 1 ? BackupKind::addons : BackupKind::wtf);
                    }
                    makeDirs(f.manager() / "recycled-backups");
                    for (int n = 2; n <= 3; ++n) {
                        std::string name = fixedBackup(n, BackupKind::wtf).id.text();
                        fs::rename(f.manager() / "backups" / name, f.manager() / "recycled-backups" / name);
                    }
                },
            .operation = [](FaultFixture& f) { f.service->recoverRecycledBackups(f.client); },
            .state = storeState,
            .intermediateStatesAllowed = true,
        },
        {
            // The add-on folder and the registry entry go together or not at all.
            .name = "removeRetiredAddon",
            .setup = retireOld,
            .operation = [](FaultFixture& f) { f.service->removeRetiredAddon("pack.a", "Old", f.client); },
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
            // One file from the game's .bak beside it, one from the backup that holds it whole.
            .name = "repair of damaged saved variables",
            .setup =
                [](FaultFixture& f) {
                    fillWtf(f.root / "WTF");
                    writeFile(f.root / "WTF/Account/ACCT/SavedVariables/Keep.lua", "Keep = { 1 }\n");
                    f.service->locked(f.client, [&] { f.service->snapshot(BackupKind::wtf, f.client, "测试"); });
                    writeFile(f.root / "WTF/Account/ACCT/SavedVariables/Keep.lua", "Keep = { 1,");
                    writeFile(f.root / "WTF/Account/ACCT/realm/hero1/SavedVariables/Bars.lua", "");
                    writeFile(f.root / "WTF/Account/ACCT/realm/hero1/SavedVariables/Bars.lua.bak", "Bars = {}\n");
                },
            .operation = [](FaultFixture& f) { f.service->repairSavedVariables(f.client, {}); },
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
            .state =
                [](FaultFixture& f) {
                    // Every fixture takes its own backup, with its own id and date; the package's
                    // record is compared with that backup's, the rest byte for byte.
                    const Path package = exportDestination(f);
                    std::string state = treeState(f.root) + "\n--\n" + treeState(package, "metadata.json");
                    if (fs::exists(package / "metadata.json")) {
                        const Path source = ManagerService::backupFolder(f.client, noted(f).id) / "metadata.json";
                        state += readFile(package / "metadata.json") == readFile(source) ? "record of the backup"
                                                                                         : "another record";
                    }
                    return state;
                },
            .invariant =
                [](FaultFixture& f) {
                    EXPECT_EQ(treeState(f.manager(), ""), f.notes.at("manager")) << "the manager folder was written";
                    for (const auto& entry : fs::directory_iterator(f.dir / "out")) {
                        std::string name = entry.path().filename();
                        if (name == exportDestination(f).filename()) {
                            continue;
                        }
                        // Only a process that died mid-copy, or a second fault in its best-effort
                        // clean-up, can leave its staging folder.
                        EXPECT_TRUE(name.rfind(".olvex-export-", 0) == 0 &&
                                    (f.notes.count("in process") == 0 || f.cleanupMayFail))
                            << name << " left beside the destination";
                    }
                },
        },
    };
}

// One test per case and row, so that the rows of a case run in parallel.
class FaultInjection : public ::testing::TestWithParam<std::tuple<FaultCase, FaultRow>> {};

TEST_P(FaultInjection, EndsAsBeforeOrAsIntendedAndKeepsEveryBackup) {
    const auto& [faultCase, row] = GetParam();
    FaultRunSummary summary = runFaultRow(faultCase, row);
    std::printf("[ fault    ] %s, %s, %s: %ld calls, %ld injected runs checked: %s\n", faultCase.name.c_str(),
                rowName(row), summary.perFile ? "per file" : "volume", summary.calls, summary.cases,
                summary.sampling.c_str());
    // Only a case that may stop at once on any failure may run no second fault.
    if (row != FaultRow::secondFault || !faultCase.noSecondFault) {
        EXPECT_GT(summary.cases, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultInjection,
    ::testing::Combine(::testing::ValuesIn(faultCases()),
                       ::testing::Values(FaultRow::single, FaultRow::secondFault, FaultRow::persistent,
                                         FaultRow::doubleCrash, FaultRow::powerLoss, FaultRow::powerLossPerFile,
                                         FaultRow::failedPowerLoss, FaultRow::failedPowerLossPerFile)),
    [](const ::testing::TestParamInfo<std::tuple<FaultCase, FaultRow>>& param) {
        std::string name;
        for (char c : std::get<0>(param.param).name) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name + "_" + rowName(std::get<1>(param.param));
    });

} // namespace
