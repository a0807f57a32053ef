#include "discovery/LauncherFiles.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>
#include <yaml-cpp/yaml.h>

#include "discovery/ProductDatabase.pb.h"

namespace olvex::launcher {

namespace {

[[noreturn]] void damaged(const char* what) {
    throw DamagedLauncherFile(what);
}

// yaml-cpp refuses nesting past its own depth guard and shares aliased nodes instead of
// copying them, so a hostile file costs at most its size; only the keys read here are touched.
YAML::Node loadYaml(const std::string& yaml) {
    try {
        YAML::Node root = YAML::Load(yaml);
        if (!root.IsMap()) {
            damaged("not a YAML mapping");
        }
        return root;
    } catch (const YAML::Exception&) {
        damaged("not YAML");
    }
}

// A key's text: nothing when absent or null, damage when it is a list or a mapping.
std::optional<std::string> scalar(const YAML::Node& map, const char* key) {
    const YAML::Node value = map[key];
    if (!value.IsDefined() || value.IsNull()) {
        return std::nullopt;
    }
    if (!value.IsScalar()) {
        damaged("a list or mapping where text belongs");
    }
    return value.Scalar();
}

// A key's mapping: nothing when absent or null, damage when it is anything else.
std::optional<YAML::Node> mapping(const YAML::Node& map, const char* key) {
    const YAML::Node value = map[key];
    if (!value.IsDefined() || value.IsNull()) {
        return std::nullopt;
    }
    if (!value.IsMap()) {
        damaged("text or a list where a mapping belongs");
    }
    return value;
}

// --- VDF: Valve's key-value text. "key" "value" pairs and "key" { … } blocks, // comments,
// backslash escapes in quoted text, optional [$PLATFORM] conditions after a value.

constexpr int kMaxVdfDepth = 16;
constexpr size_t kMaxVdfNodes = 65'536;

struct VdfNode {
    std::string key;
    std::string value; // when not a block
    bool block = false;
    std::vector<VdfNode> children;
};

class VdfParser {
public:
    explicit VdfParser(const std::string& text) : m_text(text) {}

    std::vector<VdfNode> document() {
        auto nodes = entries(0);
        if (m_at != m_text.size()) {
            damaged("unbalanced braces");
        }
        return nodes;
    }

private:
    std::vector<VdfNode> entries(int depth) {
        if (depth > kMaxVdfDepth) {
            damaged("nested too deeply");
        }
        std::vector<VdfNode> nodes;
        while (true) {
            skipSpace();
            if (m_at == m_text.size() || m_text[m_at] == '}') {
                return nodes;
            }
            if (++m_count > kMaxVdfNodes) {
                damaged("too many entries");
            }
            VdfNode node;
            node.key = token();
            skipSpace();
            if (m_at < m_text.size() && m_text[m_at] == '{') {
                ++m_at;
                node.block = true;
                node.children = entries(depth + 1);
                if (m_at == m_text.size()) {
                    damaged("unclosed block");
                }
                ++m_at; // the closing brace
            } else {
                node.value = token();
                skipSpace();
                if (m_at < m_text.size() && m_text[m_at] == '[') { // a platform condition
                    token();
                }
            }
            nodes.push_back(std::move(node));
        }
    }

    void skipSpace() {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++m_at;
            } else if (c == '/' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '/') {
                m_at = m_text.find('\n', m_at);
                m_at = m_at == std::string::npos ? m_text.size() : m_at;
            } else {
                return;
            }
        }
    }

    std::string token() {
        if (m_at == m_text.size()) {
            damaged("text ends where a key or value belongs");
        }
        std::string out;
        if (m_text[m_at] != '"') {
            while (m_at < m_text.size() &&
                   std::string_view(" \t\r\n{}\"").find(m_text[m_at]) == std::string_view::npos) {
                out += m_text[m_at++];
            }
            if (out.empty()) {
                damaged("a brace where a key or value belongs");
            }
            return out;
        }
        for (++m_at; m_at < m_text.size(); ++m_at) {
            char c = m_text[m_at];
            if (c == '"') {
                ++m_at;
                return out;
            }
            if (c == '\\' && m_at + 1 < m_text.size()) {
                c = m_text[++m_at];
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            }
            out += c;
        }
        damaged("unterminated text");
    }

    const std::string& m_text;
    size_t m_at = 0;
    size_t m_count = 0;
};

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The parser keeps a field of a known number but another wire type among the unknown fields,
// as protobuf does for forward compatibility; here it means a record of another shape.
bool holdsField(const std::string& unknown, int number) {
    namespace pb = google::protobuf;
    pb::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(unknown.data()),
                                   static_cast<int>(unknown.size()));
    while (const std::uint32_t tag = input.ReadTag()) {
        if (pb::internal::WireFormatLite::GetTagFieldNumber(tag) == number ||
            !pb::internal::WireFormatLite::SkipField(&input, tag)) {
            return true;
        }
    }
    return false;
}

} // namespace

LutrisGame lutrisGame(const std::string& yaml) {
    const YAML::Node root = loadYaml(yaml);
    LutrisGame game;
    try {
        for (const char* key : {"game_slug", "slug", "name"}) {
            if (auto text = scalar(root, key); text && !text->empty()) {
                game.slug = *text;
                break;
            }
        }
        if (auto settings = mapping(root, "game")) {
            game.prefix = scalar(*settings, "prefix");
        }
    } catch (const YAML::Exception&) {
        damaged("unexpected YAML");
    }
    return game;
}

std::optional<std::string> lutrisGamePath(const std::string& yaml) {
    const YAML::Node root = loadYaml(yaml);
    try {
        auto system = mapping(root, "system");
        return system ? scalar(*system, "game_path") : std::nullopt;
    } catch (const YAML::Exception&) {
        damaged("unexpected YAML");
    }
}

std::vector<std::string> steamLibraries(const std::string& vdf) {
    const std::vector<VdfNode> document = VdfParser(vdf).document();
    if (document.size() != 1 || !document.front().block ||
        !equalsIgnoringCase(document.front().key, "libraryfolders")) {
        damaged("not a list of libraries");
    }
    std::vector<std::string> libraries;
    for (const auto& entry : document.front().children) {
        if (!allDigits(entry.key)) {
            continue; // ContentStatsID and the like
        }
        std::optional<std::string> path;
        if (!entry.block) {
            path = entry.value;
        } else {
            for (const auto& field : entry.children) {
                if (!field.block && equalsIgnoringCase(field.key, "path")) {
                    path = field.value;
                }
            }
        }
        if (!path || path->empty()) {
            damaged("a library without a path");
        }
        if (libraries.size() == kMaxEntries) {
            damaged("too many libraries");
        }
        libraries.push_back(*path);
    }
    return libraries;
}

// The top level is walked field by field so that the count of products is capped before any
// record is made; each product then parses as the generated message, whose parser bounds its
// own nesting (unknown fields included) and keeps to the bytes of that one record.
std::vector<ProductInstall> productInstalls(const std::string& bytes) {
    namespace pb = google::protobuf;
    pb::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    std::vector<ProductInstall> products;
    std::string record;
    while (input.CurrentPosition() < static_cast<int>(bytes.size())) {
        const std::uint32_t tag = input.ReadTag();
        if (tag == 0) {
            damaged("not a protobuf message");
        }
        if (pb::internal::WireFormatLite::GetTagFieldNumber(tag) != 1) {
            if (!pb::internal::WireFormatLite::SkipField(&input, tag)) {
                damaged("a field cut short");
            }
            continue;
        }
        std::uint32_t length = 0;
        if (pb::internal::WireFormatLite::GetTagWireType(tag) !=
                pb::internal::WireFormatLite::WIRETYPE_LENGTH_DELIMITED ||
            !input.ReadVarint32(&length) || !input.ReadString(&record, static_cast<int>(length))) {
            damaged("a product record of the wrong type or cut short");
        }
        if (products.size() == kMaxEntries) {
            damaged("too many products");
        }
        agent::ProductInstall product;
        if (!product.ParseFromString(record) || holdsField(product.unknown_fields(), 2) ||
            holdsField(product.unknown_fields(), 3) || holdsField(product.settings().unknown_fields(), 1)) {
            damaged("a damaged product record");
        }
        products.push_back({product.product_code(), product.settings().install_path()});
    }
    return products;
}

std::optional<WindowsPath> windowsPath(const std::string& text) {
    if (text.size() < 2 || text[1] != ':' || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    WindowsPath path{static_cast<char>(std::tolower(static_cast<unsigned char>(text[0]))), {}};
    size_t start = 2;
    while (start <= text.size()) {
        size_t end = text.find_first_of("/\\", start);
        end = end == std::string::npos ? text.size() : end;
        std::string component = text.substr(start, end - start);
        if (component == "." || component == ".." || component.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        if (!component.empty()) {
            path.components.push_back(std::move(component));
        }
        start = end + 1;
    }
    return path;
}

} // namespace olvex::launcher
