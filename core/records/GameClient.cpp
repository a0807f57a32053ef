#include "records/GameClient.h"

namespace olvex {

GameClient::GameClient(const Path& url) : m_url(normalizedDirectory(url)) {}

const std::map<std::string, std::string>& GameClient::flavors() {
    static const std::map<std::string, std::string> table{
        {"_retail_", "正式服"},          {"_classic_", "进度怀旧服"},     {"_classic_era_", "经典旧世 / 专家 / 赛季服"},
        {"_anniversary_", "周年纪念服"}, {"_ptr_", "正式服测试服"},       {"_beta_", "正式服 Beta"},
        {"_classic_ptr_", "怀旧测试服"}, {"_classic_beta_", "怀旧 Beta"},
    };
    return table;
}

bool GameClient::isFlavor(const std::string& folderName) {
    return flavors().count(folderName) != 0;
}

std::string GameClient::title() const {
    auto name = folderName();
    auto it = flavors().find(name);
    return it == flavors().end() ? name : it->second;
}

} // namespace olvex
