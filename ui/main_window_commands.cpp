#include "ui/main_window_commands.h"

#include "platform/stop_request.h"
#include "ui/varnel_dlg.h"

namespace varnel {

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
