// The main window's facts have one source: ui/main_window_layout (controls)
// and ui/main_window_commands (menus, the command of each id). The Windows
// program's resources restate them for the resource compiler; here they are
// read back and compared row by row, so that any drift between the tables,
// ui/win32/varnel.rc and ui/win32/resource.h fails. Planted drifts show that
// the comparison sees each kind of change.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ui/main_window_commands.h"
#include "ui/main_window_layout.h"
#include "ui/varnel_dlg.h"

namespace varnel {
namespace {

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(VARNEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(Trim(line));
    return lines;
}

// The "#define NAME VALUE" numbers of resource.h, "(-1)" included.
std::map<std::string, int> Defines(const std::string& header) {
    std::map<std::string, int> values;
    for (const std::string& line : Lines(header)) {
        std::istringstream in(line);
        std::string directive, name, value;
        if (!(in >> directive >> name >> value) || directive != "#define") continue;
        if (value.size() > 2 && value.front() == '(' && value.back() == ')') value = value.substr(1, value.size() - 2);
        try {
            size_t used = 0;
            const int number = std::stoi(value, &used, 0);
            if (used == value.size()) values[name] = number;
        } catch (const std::exception&) {
        }
    }
    return values;
}

// A resource statement's fields after its keyword, split at the commas
// outside quotes; quoted fields keep their quotes.
std::vector<std::string> Fields(const std::string& rest) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : rest) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) fields.emplace_back();
        else fields.back() += c;
    }
    for (std::string& field : fields) field = Trim(field);
    return fields;
}

std::string Unquote(const std::string& field) {
    return field.size() >= 2 && field.front() == '"' && field.back() == '"' ? field.substr(1, field.size() - 2) : field;
}

// The lines of a block of the .rc: those between the BEGIN after `header`
// and its END (nested blocks included).
std::vector<std::string> Block(const std::string& rc, const std::string& header, std::vector<std::string>* problems) {
    const std::vector<std::string> lines = Lines(rc);
    size_t at = 0;
    while (at < lines.size() && lines[at].rfind(header, 0) != 0) ++at;
    if (at == lines.size()) {
        problems->push_back("varnel.rc has no \"" + header + "\"");
        return {};
    }
    std::vector<std::string> block{lines[at]};
    int depth = 0;
    for (++at; at < lines.size(); ++at) {
        if (lines[at] == "BEGIN") {
            if (depth++ == 0) continue;
        } else if (lines[at] == "END") {
            if (--depth == 0) break;
        } else if (depth == 0) {
            block.push_back(lines[at]);  // the statements before BEGIN
            continue;
        }
        block.push_back(lines[at]);
    }
    return block;
}

// Everything in which varnel.rc and resource.h differ from the tables, one
// line each; empty when they agree.
std::vector<std::string> Differences(const std::string& rc, const std::string& header) {
    std::vector<std::string> problems;
    const std::map<std::string, int> ids = Defines(header);
    const auto id = [&](const std::string& name) -> std::optional<int> {
        if (const auto found = ids.find(name); found != ids.end()) return found->second;
        problems.push_back("resource.h does not define " + name);
        return std::nullopt;
    };

    // The main window's template: its size, then the controls row by row.
    const std::vector<std::string> main = Block(rc, "IDD_MAIN DIALOGEX", &problems);
    if (!main.empty()) {
        const std::vector<std::string> size = Fields(main[0].substr(std::string("IDD_MAIN DIALOGEX").size()));
        if (size.size() != 4 || size[2] != std::to_string(kMainWindowWidth) ||
            size[3] != std::to_string(kMainWindowHeight))
            problems.push_back("IDD_MAIN's size is not " + std::to_string(kMainWindowWidth) + " x " +
                               std::to_string(kMainWindowHeight) + ": " + main[0]);
    }
    std::vector<std::string> rows;
    for (const std::string& line : main) {
        static const std::set<std::string> keywords = {"GROUPBOX", "LTEXT",      "LISTBOX",     "EDITTEXT",
                                                       "CONTROL",  "PUSHBUTTON", "AUTOCHECKBOX"};
        if (keywords.contains(line.substr(0, line.find(' ')))) rows.push_back(line);
    }
    const auto controls = MainWindowControls();
    if (rows.size() != controls.size())
        problems.push_back("IDD_MAIN has " + std::to_string(rows.size()) + " controls, the layout " +
                           std::to_string(controls.size()));
    for (size_t i = 0; i < rows.size() && i < controls.size(); ++i) {
        const ControlLayout& control = controls[i];
        const std::string& row = rows[i];
        const std::string keyword = row.substr(0, row.find(' '));
        std::vector<std::string> fields = Fields(row.substr(keyword.size()));
        // As "KEYWORD text, id, x, y, width, height, style".
        std::string style;
        if (keyword == "LISTBOX" || keyword == "EDITTEXT") fields.insert(fields.begin(), "\"\"");
        if (keyword == "CONTROL" && fields.size() == 8) {
            style = "class " + fields[2] + " " + fields[3];
            fields = {fields[0], fields[1], fields[4], fields[5], fields[6], fields[7]};
        }
        if (fields.size() < 6) {
            problems.push_back("IDD_MAIN row " + std::to_string(i) + " cannot be read: " + row);
            continue;
        }
        if (fields.size() > 6) style += fields[6];
        const std::string where = "IDD_MAIN row " + std::to_string(i) + " (" + control.name + "): ";
        const std::optional<int> rowId = id(fields[1]);
        if (rowId && *rowId != control.id)
            problems.push_back(where + fields[1] + " is " + std::to_string(*rowId) + ", the layout's id " +
                               std::to_string(control.id));
        if (Unquote(fields[0]) != control.text)
            problems.push_back(where + "text " + fields[0] + ", the layout's \"" + control.text + "\"");
        const int rect[] = {control.x, control.y, control.width, control.height};
        for (int k = 0; k < 4; ++k)
            if (fields[2 + k] != std::to_string(rect[k]))
                problems.push_back(where + "rectangle " + fields[2] + ", " + fields[3] + ", " + fields[4] + ", " +
                                   fields[5] + " is not the layout's");
        const bool multiline = style.find("ES_MULTILINE") != std::string::npos;
        const bool kindMatches = [&] {
            switch (control.kind) {
            case ControlKind::GroupBox: return keyword == "GROUPBOX";
            case ControlKind::Label: return keyword == "LTEXT";
            case ControlKind::ListBox: return keyword == "LISTBOX";
            case ControlKind::ReadOnlyEdit:
                return keyword == "EDITTEXT" && !multiline && style.find("ES_READONLY") != std::string::npos;
            case ControlKind::StatusEdit:
                return keyword == "EDITTEXT" && multiline && style.find("ES_READONLY") != std::string::npos;
            case ControlKind::FileList:
                return keyword == "CONTROL" && style.find("\"SysListView32\"") != std::string::npos;
            case ControlKind::Button: return keyword == "PUSHBUTTON";
            case ControlKind::CheckBox: return keyword == "AUTOCHECKBOX";
            }
            return false;
        }();
        if (!kindMatches) problems.push_back(where + "is not of the layout's kind: " + row);
        const bool hidden = style.find("NOT WS_VISIBLE") != std::string::npos;
        const bool startsHidden = control.shown == Shown::Never || control.shown == Shown::WithAdapter;
        if (hidden != startsHidden)
            problems.push_back(where +
                               (hidden ? "starts hidden, the layout shows it" : "starts shown, the layout hides it"));
    }

    // The menu: each POPUP's entries in order, separators included.
    const std::vector<std::string> menu = Block(rc, "IDR_MAINMENU MENU", &problems);
    struct Item {
        std::string popup, text;
        std::optional<int> id;
        bool separatorBefore;
    };
    std::vector<Item> items;
    std::string popup;
    bool separator = false;
    for (const std::string& line : menu) {
        if (line.rfind("POPUP ", 0) == 0) {
            popup = Unquote(Trim(line.substr(6)));
            separator = false;
        } else if (line == "MENUITEM SEPARATOR") {
            separator = true;
        } else if (line.rfind("MENUITEM ", 0) == 0) {
            const std::vector<std::string> fields = Fields(line.substr(9));
            items.push_back({popup, Unquote(fields[0]), fields.size() > 1 ? id(fields[1]) : std::nullopt, separator});
            separator = false;
        }
    }
    const auto entries = MainWindowMenu();
    if (items.size() != entries.size())
        problems.push_back("the menu has " + std::to_string(items.size()) + " entries, the table " +
                           std::to_string(entries.size()));
    for (size_t i = 0; i < items.size() && i < entries.size(); ++i) {
        const MenuEntry& entry = entries[i];
        const Item& item = items[i];
        const std::string where = std::string("menu entry ") + std::to_string(i) + " (" + entry.name + "): ";
        if (item.popup != entry.menu) problems.push_back(where + "in " + item.popup + ", the table's " + entry.menu);
        if (item.text != entry.text)
            problems.push_back(where + "\"" + item.text + "\", the table's \"" + entry.text + "\"");
        if (item.id != entry.id) problems.push_back(where + "its id is not the table's " + std::to_string(entry.id));
        if (item.separatorBefore != entry.separatorBefore)
            problems.push_back(where + "the separator before it differs");
    }
    return problems;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(WindowSources, TheResourcesAgreeWithTheTables) {
    const std::string rc = ReadSource("ui/win32/varnel.rc");
    const std::string header = ReadSource("ui/win32/resource.h");
    ASSERT_FALSE(rc.empty());
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(Joined(Differences(rc, header)), "");
}

// Each kind of drift the comparison is for, planted in a copy of the real
// sources: each must be seen.
TEST(WindowSources, EveryPlantedDriftIsSeen) {
    const std::string rc = ReadSource("ui/win32/varnel.rc");
    const std::string header = ReadSource("ui/win32/resource.h");
    struct Drift {
        const char* what;
        bool inHeader;
        std::string from, to;
    };
    const Drift drifts[] = {
        {"a control's id", true, "#define IDC_UPDATE 1011", "#define IDC_UPDATE 1012"},
        {"a control's id name gone", true, "#define IDC_OPENED 1026\n", ""},
        {"a menu command's id", true, "#define ID_HISTORY 32790", "#define ID_HISTORY 32799"},
        {"the window's size", false, "IDD_MAIN DIALOGEX 0, 0, 248, 220", "IDD_MAIN DIALOGEX 0, 0, 250, 220"},
        {"a control's rectangle", false, "IDC_DOWNLOAD, 6, 168, 54, 14", "IDC_DOWNLOAD, 6, 168, 55, 14"},
        {"a control's text", false, "PUSHBUTTON \"Download...\"", "PUSHBUTTON \"Download\""},
        {"a control's kind", false, "EDITTEXT IDC_STATUS, 7, 69, 211, 21, ES_CENTER | ES_MULTILINE |",
         "EDITTEXT IDC_STATUS, 7, 69, 211, 21, ES_CENTER |"},
        {"a control shown", false, "IDC_CLOSE, 185, 31, 45, 11, NOT WS_VISIBLE", "IDC_CLOSE, 185, 31, 45, 11"},
        {"a control hidden", false, "IDC_CATCH_ADAPTER, 6, 49, 234, 14",
         "IDC_CATCH_ADAPTER, 6, 49, 234, 14, NOT WS_VISIBLE"},
        {"two controls swapped", false,
         "LTEXT \"Current MAC Address:\", IDC_STATIC, 10, 190, 70, 8\n    LTEXT \"PDA's Serial Number:\", IDC_STATIC, "
         "121, 190, 68, 8",
         "LTEXT \"PDA's Serial Number:\", IDC_STATIC, 121, 190, 68, 8\n    LTEXT \"Current MAC Address:\", IDC_STATIC, "
         "10, 190, 70, 8"},
        {"a control dropped", false, "    PUSHBUTTON \"Quit\", IDC_QUIT, 224, 168, 24, 9, NOT WS_VISIBLE\n", ""},
        {"a menu entry's text", false, "\"Query &Driver Version\"", "\"Query Driver Version\""},
        {"a separator dropped", false, "        MENUITEM SEPARATOR\n", ""},
        {"two menu commands swapped", false,
         "ID_RESTORE_PDA\n        MENUITEM \"Restore Fir&mware...\", ID_RESTORE_FIRMWARE",
         "ID_RESTORE_FIRMWARE\n        MENUITEM \"Restore Fir&mware...\", ID_RESTORE_PDA"},
        {"a menu entry added", false, "MENUITEM \"&About\", ID_APP_ABOUT",
         "MENUITEM \"&About\", ID_APP_ABOUT\n        MENUITEM \"&Help\", ID_APP_ABOUT"},
        {"an entry in another menu", false, "    POPUP \"&Help\"", "    POPUP \"&Info\""},
    };
    for (const Drift& drift : drifts) {
        std::string planted = drift.inHeader ? header : rc;
        const size_t at = planted.find(drift.from);
        ASSERT_NE(at, std::string::npos) << drift.what << ": the text to change is no longer in the source";
        planted.replace(at, drift.from.size(), drift.to);
        const std::vector<std::string> seen = drift.inHeader ? Differences(rc, planted) : Differences(planted, header);
        EXPECT_FALSE(seen.empty()) << drift.what << " was not seen";
    }
}

// A click's command: every menu entry and every button a user can press
// runs one, each command from one id only; the rest run none.
TEST(WindowSources, EachClickRunsItsOneCommand) {
    // Member pointers have no order: a list of (command, ids).
    std::vector<std::pair<ClickedCommand, int>> byCommand;
    const auto count = [&](int id) {
        const ClickedCommand command = ClickCommand(id);
        if (!command) return;
        for (auto& [known, ids] : byCommand)
            if (known == command) return void(++ids);
        byCommand.emplace_back(command, 1);
    };
    for (const MenuEntry& entry : MainWindowMenu()) {
        EXPECT_NE(ClickCommand(entry.id), nullptr) << entry.name;
        count(entry.id);
    }
    for (const ControlLayout& control : MainWindowControls()) {
        const bool pressable =
            control.kind == ControlKind::Button && control.id != kIdcQuit && control.id != kIdcTestCommand;
        EXPECT_EQ(ClickCommand(control.id) != nullptr, pressable) << control.name;
        if (control.kind != ControlKind::Button) continue;  // the menu's Query Firmware has a control's id
        count(control.id);
    }
    for (const auto& [command, ids] : byCommand) EXPECT_EQ(ids, 1);
    EXPECT_EQ(byCommand.size(), 10u);
    EXPECT_EQ(ClickCommand(1), nullptr);  // Enter
    EXPECT_EQ(ClickCommand(kIdcStatic), nullptr);
}

}  // namespace
}  // namespace varnel
