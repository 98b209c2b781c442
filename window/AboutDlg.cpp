#include "window/AboutDlg.h"

#include "platform/DialogTemplate.h"
#include "res/Resources.h"

#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    // Its icon control shows the program's own icon.
    setWindowIcon(LoadAppIcon());
    BuildDialog(*this, kAboutDialogTemplate);
    connect(DialogItemAs<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
}
