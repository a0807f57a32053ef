// Every changing operation, under every injected file-system failure and crash: the version
// folder ends as before or as intended, and no backup is ever lost. Each operation that
// changes a version folder or the backup store adds its row to the table below.

#include <gtest/gtest.h>

#include <regex>

#include "records/FileSafety.h"
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

void replaceAddons(FaultFixture& f) {
    f.service->locked(f.client, [&] {
        f.service->transaction(BackupKind::addons, f.client, "测试", [&](const Path& next) {
            FileSafety::copyTree(f.addons(), next, nullptr, FileSafety::Flush::deferred);
            FileSafety::remove(next / "Beta");
            writeFile(next / "Gamma/Gamma.toc", "## Title: Gamma\n");
        });
    });
}

// The registry records when a pack was installed; two runs differ only there.
std::string withoutInstallDates(FaultFixture& f) {
    static const std::regex date(R"("installedAt":[0-9.eE+-]+)");
    std::string out;
    for (const auto& [path, content] : snapshotTree(f.root)) {
        if (path.rfind(".olvex-manager", 0) != 0) {
            out += path + "\n" + std::regex_replace(content, date, R"("installedAt":0)") + "\n";
        }
    }
    return out;
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
            .name = "pack installation over an add-on folder with a registry",
            .setup =
                [](FaultFixture& f) {
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
            .state = withoutInstallDates,
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
