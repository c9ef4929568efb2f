// SPDX-License-Identifier: GPL-3.0-or-later
// A caption that several controls share is qualified by its group, as a
// sighted user reads it off the window ("SOUND MUTE" above "ON"); a symbol
// is said in words. The input matrix's buttons are named by row.

#include "ui/accessible_texts.h"

#include <array>
#include <utility>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "ui/control_table.h"

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kSpokenSymbols = {{
    {"+", "plus"}, {"-", "minus"}, {"\u2191", "up"}, {"\u2193", "down"}, {"\u2190", "left"}, {"\u2192", "right"},
}};

struct OtherText {
    std::string_view control;
    std::string_view name;
    std::string_view description;
};

// The controls no command table covers.
constexpr std::array<OtherText, 6> kOtherTexts = {{
    // Its caption changes with what it does, and says it.
    {"Command34", "", "Shows or hides the data panel's lower part, or closes the full-height window"},
    {"Option1", "COM1", "Opens the projector's line on port 1"},
    {"Option2", "COM2", "Opens the projector's line on port 2"},
    {"Option9", "19200 baud", "Sets the line's speed"},
    {"Option10", "9600 baud", "Sets the line's speed"},
    {"Text1", "Command line", "A command to send with SEND; the CR is added"},
}};

std::string spoken(std::string_view caption)
{
    for (const auto &[symbol, words] : kSpokenSymbols) {
        if (caption == symbol)
            return std::string(words);
    }
    return std::string(caption);
}

// Whether another control of the window carries the same caption.
bool captionShared(std::string_view control, std::string_view caption)
{
    for (const ControlRow &row : kControls) {
        if (row.name != control && row.caption == caption
            && (row.kind == ControlKind::Button || row.kind == ControlKind::Label || row.kind == ControlKind::Option))
            return true;
    }
    return false;
}

std::string qualified(std::string_view control, std::string_view group, std::string_view caption)
{
    const std::string words = spoken(caption);
    if (words == caption && !captionShared(control, caption))
        return words;
    return std::string(group) + " " + words;
}

std::string localActionText(LocalAction action)
{
    switch (action) {
    case LocalAction::Send:
        return "Sends the command line typed in the box beside it";
    case LocalAction::Clear:
        return "Clears the command box";
    case LocalAction::ShowPorts:
        return "Shows the port settings: the port and its speed";
    case LocalAction::End:
        return "Closes the port and ends the program";
    case LocalAction::None:
        break;
    }
    return {};
}

} // namespace

std::optional<AccessibleText> accessibleTextFor(std::string_view control)
{
    if (const CatalogueEntry *entry = catalogueEntryFor(control)) {
        if (entry->code.empty())
            return AccessibleText{std::string(entry->caption), localActionText(entry->action)};
        const std::string sends = "Sends " + std::string(entry->code);
        if (entry->group == "Input selection matrix") {
            // The row is in the command's name: "matrix-2-dvi", "matrix-2-query".
            const std::string row(entry->name.substr(7, 1));
            if (entry->caption == row)
                return AccessibleText{"Matrix input " + row, sends + ": asks what input " + row + " shows"};
            return AccessibleText{"Matrix input " + row + " " + std::string(entry->caption), sends};
        }
        if (entry->caption == entry->group)
            return AccessibleText{std::string(entry->caption), sends + ": asks the projector's setting"};
        return AccessibleText{qualified(control, entry->group, entry->caption), sends};
    }
    if (const HoldButton *button = holdButtonFor(control)) {
        return AccessibleText{qualified(control, button->group, button->caption),
            "Sends " + std::string(button->code) + ", again and again while held"};
    }
    for (const AddressOption &option : kAddressOptions) {
        if (option.control == control) {
            return AccessibleText{"Address " + std::string(option.caption),
                option.prefix.empty() ? std::string("Commands go to a single projector, without an address")
                                      : "Commands go with the address " + std::string(option.prefix)};
        }
    }
    for (const OtherText &other : kOtherTexts) {
        if (other.control == control)
            return AccessibleText{std::string(other.name), std::string(other.description)};
    }
    return std::nullopt;
}
