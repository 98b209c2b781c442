// Dialog templates as data, built into Qt widgets the way the platform lays them out:
// positions in dialog units, template order = tab order, objectName = decimal id.
#pragma once

#include <QFont>
#include <QString>
#include <span>

class QDialog;
class QWidget;

enum class ControlKind { PushButton, DefPushButton, Label, IconLabel, BlackFrame, ComboBox, Edit, CheckBox };

enum ControlStyle : unsigned {
    kStyleNone = 0,
    kStyleHidden = 1u << 0,
    kStyleDisabled = 1u << 1,
};

// The ids every dialog's buttons share.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id;  // kNoControlId: no id of its own
    ControlKind kind;
    const char* caption;      // UTF-8; may be empty
    int x, y, width, height;  // dialog units
    unsigned styles = kStyleNone;
};

struct DialogTemplate {
    int id;
    const char* caption;  // UTF-8
    int width, height;    // dialog units
    int pointSize;
    std::span<const ControlTemplate> controls;
};

// The dialog's font, shared by every template: a pinned sans font, since the
// dialog units (and so every control's place) follow from it.
QFont DialogFont(int pointSize);

// Creates the template's controls as children of the dialog and sizes the dialog.
void BuildDialog(QDialog& dialog, const DialogTemplate& tmpl);

// The control with that id, or null.
QWidget* DialogItem(const QWidget& dialog, int id);

template <typename T>
T* DialogItemAs(const QWidget& dialog, int id)
{
    return qobject_cast<T*>(DialogItem(dialog, id));
}
