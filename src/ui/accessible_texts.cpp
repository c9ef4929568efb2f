// SPDX-License-Identifier: GPL-3.0-or-later
// One row a control: its spoken name and what it does, in words. The code it
// sends is added from the tables that send it. The input matrix's 32 buttons
// and 4 row labels are named by row and column, as the window lays them out.

#include "ui/accessible_texts.h"

#include <array>
#include <utility>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "panel/control_table.h"
#include "panel/window_sizes.h"

namespace {

struct SpokenControl {
    std::string_view control;
    std::string_view name;
    std::string_view does; // what it does, without the command
};

// clang-format off
constexpr std::array kSpoken = {
    // POWER
    SpokenControl{"Command17", "POWER ON", "Switches the projector on"},
    SpokenControl{"Command18", "POWER OFF", "Switches the projector off"},
    SpokenControl{"Label1", "Ask POWER", "Asks whether the projector is on"},
    // INPUT MODE SET
    SpokenControl{"Command27", "Input mode 1", "Selects input 1"},
    SpokenControl{"Command28", "Input mode 2", "Selects input 2"},
    SpokenControl{"Command29", "Input mode 3", "Selects input 3"},
    SpokenControl{"Command53", "Input mode 4", "Selects input 4"},
    SpokenControl{"Label2", "Ask INPUT MODE SET", "Asks which input is selected"},
    // MENU
    SpokenControl{"Command23", "MENU ON", "Shows the projector's menu; the cursor pad then steps through it"},
    SpokenControl{"Command24", "MENU OFF", "Closes the projector's menu"},
    SpokenControl{"Label7", "Ask MENU", "Asks whether the projector's menu is shown"},
    // SOUND MUTE
    SpokenControl{"Command19", "SOUND MUTE ON", "Mutes the sound"},
    SpokenControl{"Command20", "SOUND MUTE OFF", "Turns the sound back on"},
    SpokenControl{"Label4", "Ask SOUND MUTE", "Asks whether the sound is muted"},
    // NO SHOW
    SpokenControl{"Command21", "NO SHOW ON", "Blanks the picture"},
    SpokenControl{"Command22", "NO SHOW OFF", "Shows the picture again"},
    SpokenControl{"Label5", "Ask NO SHOW", "Asks whether the picture is blanked"},
    // FREEZE
    SpokenControl{"Command25", "FREEZE ON", "Freezes the picture"},
    SpokenControl{"Command26", "FREEZE OFF", "Lets the picture move again"},
    SpokenControl{"Label8", "Ask FREEZE", "Asks whether the picture is frozen"},
    // Screen size
    SpokenControl{"Command31", "Screen size Normal", "Shows the picture at its normal size"},
    SpokenControl{"Command32", "Screen size Full", "Fills the screen with the picture"},
    SpokenControl{"Label6", "Ask Screen size", "Asks the screen size"},
    // VOL
    SpokenControl{"Command1", "Volume up", "Turns the volume up"},
    SpokenControl{"Command2", "Volume down", "Turns the volume down"},
    SpokenControl{"Label3", "Ask VOL", "Asks the volume"},
    // Zoom, focus
    SpokenControl{"Command15", "Zoom plus", "Zooms in"},
    SpokenControl{"Command35", "Zoom minus", "Zooms out"},
    SpokenControl{"Command36", "Focus plus", "Adjusts the focus in the plus direction"},
    SpokenControl{"Command37", "Focus minus", "Adjusts the focus in the minus direction"},
    // Cursor pad
    SpokenControl{"Command5", "Cursor up", "Moves the menu cursor up"},
    SpokenControl{"Command7", "Cursor down", "Moves the menu cursor down"},
    SpokenControl{"Command9", "Cursor left", "Moves the menu cursor left"},
    SpokenControl{"Command8", "Cursor right", "Moves the menu cursor right"},
    SpokenControl{"Command6", "Cursor SELECT", "Selects the menu item under the cursor"},
    // LENS SHIFT
    SpokenControl{"Command59", "Lens shift up", "Shifts the lens up"},
    SpokenControl{"Command62", "Lens shift down", "Shifts the lens down"},
    SpokenControl{"Command60", "Lens shift left", "Shifts the lens left"},
    SpokenControl{"Command61", "Lens shift right", "Shifts the lens right"},
    // Image modes
    SpokenControl{"Command4", "Image mode STAND PC", "Sets the standard image for a computer"},
    SpokenControl{"Command10", "Image mode REAL", "Sets the true-colour image"},
    SpokenControl{"Command11", "Image mode STAND AV", "Sets the standard image for video"},
    SpokenControl{"Command39", "Image mode CINEMA", "Sets the image for films"},
    SpokenControl{"Command40", "Image mode IMAGE1", "Sets the first image of your own"},
    SpokenControl{"Command41", "Image mode IMAGE2", "Sets the second image of your own"},
    SpokenControl{"Command42", "Image mode IMAGE3", "Sets the third image of your own"},
    SpokenControl{"Command43", "Image mode IMAGE4", "Sets the fourth image of your own"},
    SpokenControl{"Command100", "Image mode IMAGE5", "Sets the fifth image of your own"},
    // Right-hand column
    SpokenControl{"Command13", "A-IMAGE key", "Presses the projector's A-IMAGE key; the cursor pad then steps through its menu"},
    SpokenControl{"Command30", "IMAGE key", "Presses the projector's IMAGE key"},
    SpokenControl{"Command3", "Clear the on-screen display (DISPLAY CLEAR)", "Clears the projector's on-screen display"},
    SpokenControl{"Command16", "End the program (END)", "Closes the port and ends the program"},
    // LAMP SELECT
    SpokenControl{"Command56", "Lamp select 4 LAMP", "Runs on all four lamps"},
    SpokenControl{"Command57", "Lamp select 1-4", "Runs on two lamps, 1 and 4"},
    SpokenControl{"Command58", "Lamp select 2-3", "Runs on two lamps, 2 and 3"},
    SpokenControl{"Label19", "Ask LAMP SELECT", "Asks which lamps are selected"},
    // Status queries: the decoded answer shows on the status line
    SpokenControl{"Command44", "Status query running state (STATUS)", "Asks whether the projector is on, standing by, cooling down or warning"},
    SpokenControl{"Command45", "Status query input mode (MODE)", "Asks which input is selected"},
    SpokenControl{"Command46", "Status query lamp hours (L-TIME)", "Asks how many hours the lamps have run"},
    SpokenControl{"Command47", "Status query picture orientation (SETTING)", "Asks whether the picture is reversed top to bottom or left to right"},
    SpokenControl{"Command54", "Status query temperatures (TEMP)", "Asks the projector's two temperatures"},
    SpokenControl{"Command55", "Status query lamps lit (L-MODE)", "Asks which lamps are lit and the lamp mode"},
    SpokenControl{"Command38", "Status query computer signal (PC type)", "Asks what computer signal the projector receives"},
    SpokenControl{"Command12", "Status query mutes and signal (SETTING 2)", "Asks whether picture and sound are muted and whether there is a signal"},
    SpokenControl{"Command99", "Status query air pressure (PRESSURE)", "Asks the air pressure, shown in hectopascals"},
    SpokenControl{"Command52", "Status query power failures (P-FAIL)", "Asks about power failures; the reply is shown as received"},
    // FAN SPEED
    SpokenControl{"Command97", "Fan speed MAX", "Runs the fans at full speed"},
    SpokenControl{"Command98", "Fan speed normal (NOR)", "Runs the fans at normal speed"},
    SpokenControl{"Label27", "Ask FAN SPEED", "Asks the fan speed"},
    // Command entry
    SpokenControl{"Text1", "Command line", "A command to send with the SEND button; the carriage return is added"},
    SpokenControl{"Command95", "Send the command line (SEND)", "Sends the command typed in the command line"},
    SpokenControl{"Command96", "Clear the command line (CLS)", "Empties the command line"},
    // Port settings
    SpokenControl{"Command33", "Port settings (COM)", "Shows the port settings: the port and its speed"},
    SpokenControl{"Option1", "Port COM1", "Opens the projector's line on port 1"},
    SpokenControl{"Option2", "Port COM2", "Opens the projector's line on port 2"},
    SpokenControl{"Option9", "Line speed 19200 baud", "Sets the line's speed to 19200 baud"},
    SpokenControl{"Option10", "Line speed 9600 baud", "Sets the line's speed to 9600 baud"},
    // Projector address
    SpokenControl{"Option3", "Address SINGLE", "Commands go to a single projector, without an address"},
    SpokenControl{"Option4", "Address ALL", "Commands go to every projector on the line"},
    SpokenControl{"Option5", "Address 001", "Commands go to projector 001"},
    SpokenControl{"Option6", "Address 002", "Commands go to projector 002"},
    SpokenControl{"Option7", "Address 003", "Commands go to projector 003"},
    SpokenControl{"Option8", "Address 004", "Commands go to projector 004"},
    // Display labels, named by what they show so that a change is heard as it is
    SpokenControl{"Label11", "", "The last command sent (TXD)"},
    SpokenControl{"Label12", "", "The last reply received (RXD)"},
    SpokenControl{"Label22", "", "The status line: the decoded reply, or what happened to the line"},
    // Its caption changes with what it does: see kDataButtonNames
    SpokenControl{"Command34", "", "Shows or hides the data panel's lower part, or closes the full-height window"},
};

// The frames, as groups named by the caption the user reads above their
// controls, or by what they hold when they have none.
constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kGroupNames = {{
    {"Frame1", "POWER"}, {"Frame2", "INPUT MODE SET"}, {"Frame6", "MENU"}, {"Frame10", "LENS SHIFT"},
    {"Frame3", "SOUND MUTE"}, {"Frame4", "NO SHOW"}, {"Frame7", "FREEZE"}, {"Frame5", "Screen size"},
    {"Frame8", "Port settings"}, {"Frame13", "Line speed"}, {"Frame9", "Traffic monitor and status"},
    {"Frame11", "Projector address (PJ Select)"}, {"Frame14", "Input selection matrix"},
    {"Frame16", "FAN SPEED"}, {"Frame15", "Command entry (CMD)"},
}};

// The data panel button, by the caption it shows.
constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kDataButtonNames = {{
    {kShowDataCaption, "Data panel: show the traffic monitor"},
    {kHideDataCaption, "Data panel: hide the traffic monitor"},
    {kCloseCaption, "Data panel: close (CLOSE)"},
}};
// clang-format on

// The code a control sends, from the table that sends it; empty for a
// local action.
std::string codeOf(std::string_view control)
{
    if (const CatalogueEntry *entry = catalogueEntryFor(control))
        return std::string(entry->code);
    if (const HoldButton *button = holdButtonFor(control))
        return std::string(button->code);
    for (const AddressOption &option : kAddressOptions) {
        if (option.control == control)
            return option.prefix.empty() ? std::string() : "prefix " + std::string(option.prefix);
    }
    return {};
}

std::string described(std::string_view control, std::string_view does)
{
    std::string text(does);
    if (holdButtonFor(control))
        text += ", again and again while held";
    const std::string code = codeOf(control);
    return code.empty() ? text : text + " (" + code + ")";
}

std::optional<AccessibleText> matrixText(std::string_view control)
{
    const CatalogueEntry *entry = catalogueEntryFor(control);
    if (!entry || entry->group != "Input selection matrix")
        return std::nullopt;
    // The row is in the command's name: "matrix-2-dvi", "matrix-2-query".
    const std::string row(entry->name.substr(7, 1));
    const std::string code(entry->code);
    if (entry->caption == row)
        return AccessibleText{
            "Ask matrix input " + row, "Asks which source matrix input " + row + " shows (" + code + ")"};
    const std::string source(entry->caption);
    return AccessibleText{"Matrix input " + row + " " + source,
        "Switches matrix input " + row + " to its " + source + " source (" + code + ")"};
}

} // namespace

std::optional<AccessibleText> accessibleTextFor(std::string_view control)
{
    for (const SpokenControl &spoken : kSpoken) {
        if (spoken.control == control)
            return AccessibleText{std::string(spoken.name), described(control, spoken.does)};
    }
    for (const auto &[frame, group] : kGroupNames) {
        if (frame == control)
            return AccessibleText{std::string(group), {}};
    }
    return matrixText(control);
}

std::string accessibleNameFor(std::string_view control, std::string_view caption)
{
    if (control == "Command34") {
        for (const auto &[shown, name] : kDataButtonNames) {
            if (shown == caption)
                return std::string(name);
        }
    }
    return std::string(caption);
}
