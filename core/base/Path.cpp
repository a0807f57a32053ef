#include "base/Path.h"

#include <string>

namespace olvex {

Path normalizedDirectory(const Path& path) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return Path(text);
}

} // namespace olvex
