#include "ui/main_window_commands.h"

#include <utility>

#include "platform/stop_request.h"
#include "ui/varnel_dlg.h"

namespace varnel {

namespace {

const std::pair<int, ClickedCommand> kClicks[] = {
    {kIdcClose, &MainWindowCommands::closeAdapter},
    {kIdcCatchAdapter, &MainWindowCommands::catchAdapter},
    {kIdcDownload, &MainWindowCommands::download},
    {kIdcUpdate, &MainWindowCommands::update},
    {kIdMenuQueryFirmware, &MainWindowCommands::queryFirmware},
    {kIdMenuQueryDriver, &MainWindowCommands::queryDriver},
    {kIdMenuHistory, &MainWindowCommands::history},
    {kIdMenuRestorePda, &MainWindowCommands::restorePda},
    {kIdMenuRestoreFirmware, &MainWindowCommands::restoreFirmware},
    {kIdMenuAbout, &MainWindowCommands::about},
};

}  // namespace

std::string MenuTip(const MenuEntry& entry) {
    switch (entry.id) {
    case kIdMenuHistory: return "Every run that wrote to a card, newest first, with its backup";
    case kIdMenuRestorePda:
        return "Write a saved .pda file (such as a backup) to the card, after saving the card's own";
    case kIdMenuRestoreFirmware:
        return "Write a saved firmware backup back to the card, after saving the firmware it replaces";
    default: return CVarnelDlg::ToolTipText(entry.id);
    }
}

ClickedCommand ClickCommand(int id) {
    for (const auto& [clicked, command] : kClicks)
        if (clicked == id) return command;
    return nullptr;
}

MainWindowCommands DialogCommands(CVarnelDlg& dialog, std::function<void()> endProgram) {
    const auto run = [&dialog, endProgram](auto start) {
        return [&dialog, endProgram, start] {
            (dialog.*start)();
            if (StopRequested()) endProgram();
        };
    };
    MainWindowCommands commands;
    commands.selectAdapter = [&dialog](int position) { dialog.SelectAdapter(position); };
    commands.catchAdapter = [&dialog] { dialog.OnCatchAdapter(); };
    commands.closeAdapter = [&dialog] { dialog.OnCloseAdapter(); };
    commands.download = [&dialog] { dialog.OnDownload(); };
    commands.removeFile = [&dialog](int index) { dialog.RemoveFile(index); };
    commands.update = run(&CVarnelDlg::OnUpdate);
    commands.queryFirmware = [&dialog] { dialog.OnQueryFirmwareVersion(); };
    commands.queryDriver = [&dialog] { dialog.OnQueryDriverVersion(); };
    commands.restorePda = run(&CVarnelDlg::OnRestorePdaFromFile);
    commands.restoreFirmware = run(&CVarnelDlg::OnRestoreFirmwareMenu);
    return commands;
}

}  // namespace varnel
