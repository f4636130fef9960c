#include <QApplication>

#include "shell/MainWindow.h"
#include "shell/QuitRequests.h"
#include "shell/SingleInstance.h"

int main(int argc, char** argv)
{
    QApplication l_application(argc, argv);
    // A second start of the same user's client ends here, silently, before any window exists or
    // the store file is read.
    const SingleInstance l_instance(QStringLiteral("TarnwickQt"));
    if (!l_instance.IsFirst())
        return 0;

    int l_status = 0;
    {
        MainWindow l_window;
        QuitRequests l_quit(&l_window);
        l_window.show();
        l_window.Init();
        if (!l_quit.Requested())
            l_status = l_application.exec();
    }
    return l_status;
}
