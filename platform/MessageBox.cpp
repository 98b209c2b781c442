#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {
MessageBoxHook g_hook = nullptr;
}

void SetMessageBoxHook(MessageBoxHook hook)
{
    g_hook = hook;
}

void ShowMessage(QWidget* owner, const QString& text)
{
    if (g_hook) {
        g_hook(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.exec();
}
