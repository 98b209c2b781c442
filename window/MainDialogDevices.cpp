// The devices and the player the operator chose, remembered by name in set.ini; the
// player list asked for again whenever its box is opened, so that a player started
// after the window is there to pick.
#include "window/MainDialog.h"

#include "engine/TextConversion.h"
#include "settings/DeviceChoices.h"
#include "settings/SettingsFile.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace {

// The remembered entry when it is listed, otherwise the first.
void SelectByName(QComboBox* list, const std::string& name)
{
    const int remembered = name.empty() ? -1 : list->findText(QString::fromStdU16String(AnsiToWide(name)));
    if (remembered >= 0)
        list->setCurrentIndex(remembered);
    else if (list->count() > 0)
        list->setCurrentIndex(0);
}

std::string NameOf(const QComboBox* list)
{
    return WideToAnsi(list->currentText().toStdU16String());
}

bool OpensPopup(const QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress)
        return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    const bool arrow = key->key() == Qt::Key_Down || key->key() == Qt::Key_Up;
    return key->key() == Qt::Key_F4 || (arrow && key->modifiers() & Qt::AltModifier);
}

bool IsEnter(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

void Cpublish_taviskDlg::InitDeviceChoices()
{
    for (QComboBox* list : {m_comboVideo, m_comboAudio, m_comboPlayer})
        connect(list, &QComboBox::activated, this, &Cpublish_taviskDlg::RememberChoices);
    // Typed names are the engine's to match: none is added to the list.
    m_comboPlayer->setInsertPolicy(QComboBox::NoInsert);
    m_comboPlayer->installEventFilter(this);
    m_comboPlayer->lineEdit()->installEventFilter(this);
}

void Cpublish_taviskDlg::SelectChoices()
{
    const DeviceChoices remembered = ReadDeviceChoices(kSettingsPath);
    SelectByName(m_comboAudio, remembered.audio);
    SelectByName(m_comboVideo, remembered.video);
    SelectByName(m_comboPlayer, remembered.player);
}

void Cpublish_taviskDlg::RememberChoices()
{
    WriteDeviceChoices(kSettingsPath, {NameOf(m_comboVideo), NameOf(m_comboAudio), NameOf(m_comboPlayer)});
}

void Cpublish_taviskDlg::RefreshPlayerList()
{
    if (!m_pPublishEngine) return;
    const QString chosen = m_comboPlayer->currentText();
    if (!FillPlayerList()) return;
    const int still = m_comboPlayer->findText(chosen);
    m_comboPlayer->setCurrentIndex(still);
    if (still < 0) m_comboPlayer->setEditText(chosen);
}

// Enter in the player box picks the player typed, without pressing the default button.
void Cpublish_taviskDlg::PickTypedPlayer()
{
    const int listed = m_comboPlayer->findText(m_comboPlayer->currentText(), Qt::MatchFixedString);
    if (listed >= 0) m_comboPlayer->setCurrentIndex(listed);
    RememberChoices();
}

bool Cpublish_taviskDlg::eventFilter(QObject* watched, QEvent* event)
{
    const bool inPlayerBox = watched == m_comboPlayer || watched == m_comboPlayer->lineEdit();
    if (inPlayerBox && IsEnter(event)) {
        PickTypedPlayer();
        return true;
    }
    // Before the box opens its list, so that the list it shows is the new one.
    if (watched == m_comboPlayer && OpensPopup(event)) RefreshPlayerList();
    return QDialog::eventFilter(watched, event);
}
