#include "window/MainDialog.h"

#include "platform/MessageBox.h"
#include "res/Resources.h"
#include "window/AboutDlg.h"
#include "window/MinimizedIcon.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

namespace {

constexpr unsigned kSysCommandMask = 0xFFF0;
constexpr int kIconSide = 32;
// On air, live or trying to be, the operator is asked before closing ends the broadcast.
constexpr char kCloseOnAirQuestion[] = "正在直播，确定要下麦并退出吗？";

}  // namespace

// Window managers own the system menu on Linux: the about entry lives in the
// window's own context menu instead.
void Cpublish_taviskDlg::InitSystemMenu()
{
    const QString about = LoadResourceString(IDS_ABOUTBOX);
    if (about.isEmpty()) return;
    m_pSysMenu = new QMenu(this);
    m_pSysMenu->addSeparator();
    connect(m_pSysMenu->addAction(about), &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
}

void Cpublish_taviskDlg::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_pSysMenu) m_pSysMenu->exec(event->globalPos());
}

void Cpublish_taviskDlg::OnSysCommand(unsigned nID, std::intptr_t)
{
    // Every other command is the window manager's.
    if ((nID & kSysCommandMask) != IDM_ABOUTBOX) return;
    CAboutDlg about(this);
    about.exec();
}

void Cpublish_taviskDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QSize icon(kIconSide, kIconSide);
    painter.drawPixmap(MinimizedIconPosition(size(), icon), m_hIcon.pixmap(icon));
}

QIcon Cpublish_taviskDlg::OnQueryDragIcon() const
{
    return m_hIcon;
}

void Cpublish_taviskDlg::reject()
{
    if (m_status.Broadcasting() && !AskQuestion(this, QString::fromUtf8(kCloseOnAirQuestion))) return;
    QDialog::reject();
}
