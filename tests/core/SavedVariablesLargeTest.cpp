// The saved-variables check on a Details!-sized file, generated at test time: judged right and
// read in chunks. Its own label ("large"): writing and reading 200 MB takes seconds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "savedvars/SavedVariablesCheck.h"
#include "support/TestSupport.h"

namespace olvex {
namespace {

using State = SavedVariablesState;

// A Details!-sized file: 200 MB, a million distinct keys, each with a long string value.
TEST(SavedVariablesCheck, LargeFileWithAMillionDistinctKeys) {
    test::TempDir dir;
    const auto path = dir / "Details.lua";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string filler(180, 'v');
        std::string block = "Details_Saved = {\n";
        for (int i = 0; i < 1'000'000; ++i) {
            const std::string number = std::to_string(i);
            block.append("\t[\"key").append(number).append("\"] = { \"").append(filler).append("\\");
            block.append(std::to_string(i % 256)).append("\", ").append(number).append(".5, true },\n");
            if (block.size() > (1 << 20)) {
                out << block;
                block.clear();
            }
        }
        out << block << "}\n";
    }
    ASSERT_GT(std::filesystem::file_size(path), 200'000'000u);
    EXPECT_EQ(checkSavedVariablesFile(Path(path.string())).state, State::healthy);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 3);
    EXPECT_EQ(checkSavedVariablesFile(Path(path.string())), (SavedVariablesVerdict{State::truncated, 1'000'001}));
}

} // namespace
} // namespace olvex
