#include "ui/main_window_layout.h"

#include <array>

#include "ui/varnel_dlg.h"

namespace varnel {

namespace {

using enum ControlKind;
using enum Shown;

constexpr std::array kControls = {
    ControlLayout{kIdcStatic, "adaptersGroup", GroupBox, "Valid Adapters", 2, 9, 243, 57, Always},
    ControlLayout{kIdcStatic, "filesGroup", GroupBox, "Update card with OEMRelease.oem", 2, 90, 243, 96, Always},
    ControlLayout{kIdcStatic, "cardGroup", GroupBox, "", 2, 184, 243, 34, Always},
    ControlLayout{kIdcAdapterList, "adapterList", ListBox, "", 6, 19, 234, 27, WithoutAdapter},
    ControlLayout{kIdcOpened, "opened", ReadOnlyEdit, "", 12, 28, 222, 12, WithAdapter},
    ControlLayout{kIdcClose, "closeAdapter", Button, "close", 185, 31, 45, 11, Never},
    ControlLayout{kIdcCatchAdapter, "catchAdapter", Button, "To Catch Specified Adapter", 6, 49, 234, 14, Always},
    ControlLayout{kIdcStatus, "status", StatusEdit, "", 7, 69, 211, 21, Always},
    ControlLayout{kIdcFileList, "fileList", FileList, "", 5, 99, 236, 66, Always},
    ControlLayout{kIdcDownload, "download", Button, "Download...", 6, 168, 54, 14, Always},
    ControlLayout{kIdcUpdate, "update", Button, "Update!", 62, 168, 180, 14, Always},
    ControlLayout{kIdcQuit, "quit", Button, "Quit", 224, 168, 24, 9, Never},
    ControlLayout{kIdcStatic, "macLabel", Label, "Current MAC Address:", 10, 190, 70, 8, Always},
    ControlLayout{kIdcStatic, "serialLabel", Label, "PDA's Serial Number:", 121, 190, 68, 8, Always},
    ControlLayout{kIdcPdaMac, "pdaMac", ReadOnlyEdit, "", 7, 200, 108, 14, Always},
    ControlLayout{kIdcNdisMac, "ndisMac", ReadOnlyEdit, "", 7, 200, 35, 14, Never},
    ControlLayout{kIdcPdaSerial, "pdaSerial", ReadOnlyEdit, "", 119, 200, 122, 14, Always},
    ControlLayout{kIdcVersion, "version", ReadOnlyEdit, "", 141, 0, 104, 12, Always},
    ControlLayout{kIdcTestCommand, "testCommand", Button, "(Test Command)", 173, 7, 54, 10, Never},
    ControlLayout{kIdcForceAll, "forceAll", CheckBox, "Force Update of All Blocks", 63, 7, 100, 10, Never},
    ControlLayout{kIdcVerify, "verify", CheckBox, "Verify downloads to NVRAM", 30, 2, 105, 10, Never},
};

constexpr std::array kMenu = {
    MenuEntry{"&Tools", "toolsMenu", "Query &Firmware Version", "queryFirmware", kIdMenuQueryFirmware, false},
    MenuEntry{"&Tools", "toolsMenu", "Query &Driver Version", "queryDriver", kIdMenuQueryDriver, false},
    // What varnel-cli's history, pda restore and firmware restore do.
    MenuEntry{"&Tools", "toolsMenu", "Update &History...", "history", kIdMenuHistory, true},
    MenuEntry{"&Tools", "toolsMenu", "Restore &PDA...", "restorePda", kIdMenuRestorePda, false},
    MenuEntry{"&Tools", "toolsMenu", "Restore Fir&mware...", "restoreFirmware", kIdMenuRestoreFirmware, false},
    MenuEntry{"&Help", "helpMenu", "&About", "about", kIdMenuAbout, false},
};

}  // namespace

static_assert(static_cast<int>(kIdMenuQueryFirmware) == static_cast<int>(kIdcQueryFirmware));

std::span<const ControlLayout> MainWindowControls() { return kControls; }

std::span<const MenuEntry> MainWindowMenu() { return kMenu; }

const ControlLayout* ControlFrame(const ControlLayout& c) {
    if (c.kind == GroupBox) return nullptr;
    for (const ControlLayout& group : kControls)
        if (group.kind == GroupBox && c.x >= group.x && c.y >= group.y && c.x + c.width <= group.x + group.width &&
            c.y + c.height <= group.y + group.height)
            return &group;
    return nullptr;
}

AccessibleText ControlAccessibleText(const ControlLayout& c) {
    switch (c.id) {
    case kIdcAdapterList: return {"Valid Adapters", "The wireless LAN adapters found; choose the one to update"};
    case kIdcOpened: return {"Opened adapter", ""};
    case kIdcStatus: return {"Status", "What the program did last, and its outcome"};
    case kIdcFileList:
        return {"Update card with OEMRelease.oem", "The files written to the card: their types, versions and paths"};
    case kIdcPdaMac:
    case kIdcNdisMac: return {"Current MAC Address", ""};
    case kIdcPdaSerial: return {"PDA's Serial Number", ""};
    case kIdcVersion: return {"Program version", ""};
    default: break;
    }
    // The frame without a title holds the card's fields.
    if (c.kind == GroupBox && !*c.text) return {"Card", ""};
    std::string text = c.text;
    if (!text.empty() && text.back() == ':') text.pop_back();
    return {text, ""};
}

}  // namespace varnel
