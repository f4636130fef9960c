// The main window's shared-folders panel: the folder rows with their audiences, the folder menu
// and the report after each rescan.
#include "shell/MainWindow.h"
#include "views/search/SharedFilesRescannedDialog.h"

void MainWindow::OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved)
{
    auto* lp_report = new SharedFilesRescannedDialog(this);
    lp_report->Append(tr("%1 files added.").arg(i_filesAdded));
    lp_report->Append(tr("%1 files removed.").arg(i_filesRemoved));
    lp_report->setWindowTitle(tr("Shared Files Rescanned"));
    lp_report->show();
}
