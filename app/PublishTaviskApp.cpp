#include "app/PublishTaviskApp.h"

#include "crash/CrashHandler.h"
#include "window/MainDialog.h"

#include <QCoreApplication>
#include <QString>

namespace {

// Where a Windows build would have kept its profile; the program stores nothing there.
constexpr char kOrganization[] = "应用程序向导生成的本地应用程序";

}  // namespace

Cpublish_taviskApp theApp;

bool Cpublish_taviskApp::InitInstance()
{
    QCoreApplication::setOrganizationName(QString::fromUtf8(kOrganization));
    InstallCrashHandler(nullptr, nullptr);
    Cpublish_taviskDlg dlg;
    dlg.DoModal();
    return false;
}
