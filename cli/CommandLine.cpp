#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>

namespace olvex::cli {

int CommandSpec::minArguments() const {
    return static_cast<int>(std::count_if(arguments.begin(), arguments.end(), [](const ArgumentSpec& argument) {
        return argument.count == ArgumentSpec::kOne;
    }));
}

int CommandSpec::maxArguments() const {
    const bool unbounded = std::any_of(arguments.begin(), arguments.end(), [](const ArgumentSpec& argument) {
        return argument.count == ArgumentSpec::kAnyNumber;
    });
    return unbounded ? -1 : static_cast<int>(arguments.size());
}

const CommandSpec* findCommand(const std::string& name) {
    const auto& table = commandTable();
    auto it = std::find_if(table.begin(), table.end(), [&](const CommandSpec& spec) { return name == spec.name; });
    return it == table.end() ? nullptr : &*it;
}

namespace {

std::string optionUsage(const OptionSpec& option) {
    return option.argument == nullptr ? option.name : std::string(option.name) + " " + option.argument;
}

// "[--set-aside-journal [--yes]]": an option with those that only make sense within it.
std::string optionGroup(const CommandSpec& spec, const OptionSpec& option) {
    std::string text = "[" + optionUsage(option);
    for (const auto& use : spec.options) {
        if (use.within == &option) {
            text += " " + optionGroup(spec, *use.option);
        }
    }
    return text + "]";
}

bool accepts(const CommandSpec& spec, const OptionSpec& option) {
    return option.reach == Reach::kEveryCommand ||
           std::any_of(spec.options.begin(), spec.options.end(),
                       [&](const OptionUse& use) { return use.option == &option; });
}

void fill(Invocation& invocation, const OptionSpec& option, const std::string& value) {
    std::visit(
        [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), bool Invocation::*>) {
                invocation.*field = true;
            } else {
                invocation.*field = value;
            }
        },
        option.field);
}

bool takesValue(const OptionSpec& option) {
    return option.argument != nullptr;
}

} // namespace

std::string usageLine(const CommandSpec& spec) {
    std::string line = std::string("olvex ") + spec.name;
    for (const auto& argument : spec.arguments) {
        line += " ";
        switch (argument.count) {
        case ArgumentSpec::kOne:
            line += argument.name;
            break;
        case ArgumentSpec::kOptional:
            line += std::string("[") + argument.name + "]";
            break;
        case ArgumentSpec::kAnyNumber:
            line += std::string("[") + argument.name + "…]";
            break;
        }
    }
    for (const auto& use : spec.options) {
        if (use.within == nullptr) {
            line += " " + optionGroup(spec, *use.option);
        }
    }
    return line;
}

std::string everyCommandOptions() {
    std::string text;
    for (const OptionSpec* option : option::all) {
        if (option->reach == Reach::kEveryCommand) {
            text += " [" + optionUsage(*option) + "]";
        }
    }
    return text;
}

Invocation parseCommandLine(const std::vector<std::string>& words) {
    Invocation invocation;
    std::set<const OptionSpec*> given;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        // A lone "-" and negative numbers ("retain DIR -1") are arguments, not options.
        if (optionsEnded || word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) {
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        auto alone = std::find_if(std::begin(option::all), std::end(option::all), [&](const OptionSpec* option) {
            return option->reach == Reach::kAlone &&
                   (word == option->name || (option->shortName != nullptr && word == option->shortName));
        });
        if (alone != std::end(option::all)) {
            fill(invocation, **alone, {});
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        auto found = std::find_if(std::begin(option::all), std::end(option::all), [&](const OptionSpec* option) {
            return option->reach != Reach::kAlone && name == option->name;
        });
        if (found == std::end(option::all)) {
            throw UsageError("未知选项：" + word);
        }
        const OptionSpec& option = **found;
        if (takesValue(option) && !value) {
            if (i + 1 >= words.size()) {
                throw UsageError("选项 " + name + " 需要一个值。");
            }
            value = words[++i];
        } else if (!takesValue(option) && value) {
            throw UsageError("选项 " + name + " 不带值。");
        }
        given.insert(&option);
        fill(invocation, option, value.value_or(""));
    }

    if (invocation.version) {
        return invocation;
    }
    if (positional.empty()) {
        if (invocation.help || words.empty()) {
            invocation.help = true;
            return invocation;
        }
        throw UsageError("缺少命令。");
    }
    invocation.command = positional.front();
    invocation.arguments.assign(positional.begin() + 1, positional.end());
    const CommandSpec* spec = findCommand(invocation.command);
    if (spec == nullptr) {
        throw UsageError("未知命令：" + invocation.command);
    }
    if (invocation.help) {
        return invocation;
    }
    for (const OptionSpec* option : option::all) {
        if (given.count(option) != 0 && !accepts(*spec, *option)) {
            throw UsageError(std::string("命令 ") + spec->name + " 不接受选项 " + option->name + "。");
        }
    }
    const int count = static_cast<int>(invocation.arguments.size());
    if (count < spec->minArguments()) {
        throw UsageError("参数不足。用法：" + usageLine(*spec));
    }
    if (spec->maxArguments() >= 0 && count > spec->maxArguments()) {
        throw UsageError("参数过多。用法：" + usageLine(*spec));
    }
    return invocation;
}

} // namespace olvex::cli
