#pragma once

// Health of one add-on saved-variables file: the Lua text the game writes into
// WTF/…/SavedVariables/<插件>.lua, a sequence of `名称 = 值` statements whose values are tables,
// strings, numbers, booleans and nil. The file is read as data, never run: a lexer with the
// exact lexical rules of Lua 5.1 (long brackets of any level, every escape with the 255 limit of
// `\ddd`, short and long comments, decimal and hexadecimal numbers) feeds a parser of that one
// shape, with an explicit stack.
//
// What counts as valid agrees with the Lua 5.1 reference compiler (`luac -p`) on every file of
// that shape, down to the line it names, its limit on nesting (198 expression levels: a value
// is one, a table nested in it one more, a minus before a number one more) and its refusal of
// `[[` inside a level-0 long bracket. Two kinds of difference are chosen:
// - Lua that the compiler takes but the game never writes into these files (an expression such
//   as `1 + 2` or a variable as a value, a function call, `local`, `return`, several targets
//   in one assignment, `a.b = 1`, a bare name as a list item, a minus before anything but a
//   number) is 格式错误: these are settings files, and anything else in them is damage or a hand
//   edit, which a repair replaces only after a WTF backup kept the file.
// - The compiler's limits on what one function may hold (262,143 constants, 250 registers, so
//   also 50 pending list items per nesting level) are not checked: they belong to the code it
//   would generate, the game's own loader takes files far past them (a Details! file holds
//   millions of distinct strings), and they say nothing of whether the text is whole.
//
// Memory stays flat whatever the file holds: text is read in chunks and no token is kept
// (a name keeps its first bytes, enough to know a keyword; a number is checked as it streams).

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/Path.h"

namespace olvex {

class OperationControl;

enum class SavedVariablesState { healthy, empty, truncated, malformed };

// "healthy", "empty", "truncated", "malformed" (the command line's JSON values).
std::string rawValue(SavedVariablesState state);
// 完好, 空文件, 内容被截断, 格式错误.
std::string title(SavedVariablesState state);

struct SavedVariablesVerdict {
    SavedVariablesState state = SavedVariablesState::healthy;
    // The line (from 1) where the text stopped making sense: the last line for a cut-off text.
    // Absent for a healthy or empty file.
    std::optional<int> line;
    // Malformed because the text leaves the shape of saved variables for other Lua (an
    // expression, a call, a statement keyword) that the compiler would read further: the line
    // is where it leaves the shape, and the compiler may accept the text or fail later.
    bool outsideShape = false;

    friend bool operator==(const SavedVariablesVerdict&, const SavedVariablesVerdict&) = default;
};

// Expression levels the reference compiler allows in one chunk (its C-stack guard).
inline constexpr int kSavedVariablesLevelLimit = 198;

// Reads up to `capacity` bytes into `buffer`; 0 at the end. Throws on a read failure.
using SavedVariablesReader = std::function<std::size_t(char* buffer, std::size_t capacity)>;

// Checks the text `source` delivers, chunk by chunk. A text that ends inside a string, a
// comment, a table or a statement is truncated (line: the last); any other error is malformed
// (line: where the compiler would name it); zero bytes is empty.
SavedVariablesVerdict checkSavedVariables(const SavedVariablesReader& source);
SavedVariablesVerdict checkSavedVariablesText(std::string_view text);
// Opens the file without following a link (FileSafety) and checks it in 1 MiB reads, counting
// them on the control's progress and heeding its cancellation. Failures to open or read throw
// SystemError.
SavedVariablesVerdict checkSavedVariablesFile(const Path& file, const OperationControl* control = nullptr);
// The same for a file already opened (FileSafety::openRegularFile), read from its current
// position; `path` is for messages.
SavedVariablesVerdict checkSavedVariablesOpened(int descriptor, const std::string& path,
                                                const OperationControl* control = nullptr);

} // namespace olvex
