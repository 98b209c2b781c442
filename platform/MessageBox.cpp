#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

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

bool AskQuestion(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text, QMessageBox::NoButton, owner);
    QPushButton* yes = box.addButton(QString::fromUtf8("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QString::fromUtf8("取消"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == yes;
}
