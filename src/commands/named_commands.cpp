// SPDX-License-Identifier: GPL-3.0-or-later
// Built once from the catalogue and the hold-button table; the names are
// checked for uniqueness at compile time, since a script that names a
// command must always get the same one.

#include "commands/named_commands.h"

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"

namespace {

constexpr bool namesAreUnique()
{
    std::array<std::string_view, kCatalogue.size() + kHoldButtons.size()> names{};
    std::size_t count = 0;
    for (const CatalogueEntry &entry : kCatalogue) {
        if (!entry.name.empty())
            names[count++] = entry.name;
    }
    for (const HoldButton &button : kHoldButtons)
        names[count++] = button.name;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = i + 1; j < count; ++j) {
            if (names[i] == names[j])
                return false;
        }
    }
    return true;
}
static_assert(namesAreUnique(), "every command name is used once");

constexpr bool everySendingRowIsNamed()
{
    for (const CatalogueEntry &entry : kCatalogue) {
        if (entry.name.empty() != entry.code.empty())
            return false;
    }
    return true;
}
static_assert(everySendingRowIsNamed(), "a row has a name exactly when it sends a code");

int replyWatchFor(TimerProfile profile)
{
    switch (profile) {
    case TimerProfile::Reply2000:
        return 2000;
    case TimerProfile::Matrix5000:
        return 5000;
    case TimerProfile::None:
        break;
    }
    return 500; // the reply watch's own interval
}

} // namespace

const std::vector<NamedCommand> &namedCommands()
{
    static const std::vector<NamedCommand> commands = [] {
        std::vector<NamedCommand> all;
        for (const CatalogueEntry &entry : kCatalogue) {
            if (!entry.name.empty())
                all.push_back({entry.name, entry.code, entry.caption, entry.group, replyWatchFor(entry.profile)});
        }
        for (const HoldButton &button : kHoldButtons)
            all.push_back({button.name, button.code, button.caption, button.group, 500});
        return all;
    }();
    return commands;
}

const NamedCommand *commandNamed(std::string_view name)
{
    for (const NamedCommand &command : namedCommands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

std::optional<std::string_view> addressPrefixFor(std::string_view word)
{
    constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kWords = {{
        {"single", "SINGLE"}, {"all", "ALL"}, {"1", "001"}, {"2", "002"}, {"3", "003"}, {"4", "004"},
    }};
    for (const auto &[given, caption] : kWords) {
        if (given != word)
            continue;
        for (const AddressOption &option : kAddressOptions) {
            if (option.caption == caption)
                return option.prefix;
        }
    }
    return std::nullopt;
}
