#include "platform/DialogTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace {

// Stands in for the templates' "MS Shell Dlg": one sans font that holds Chinese too.
constexpr char kDialogFontFamily[] = "WenQuanYi Micro Hei";
constexpr int kFrameLineWidth = 1;

struct DialogUnits {
    int baseX;
    int baseY;

    // Rounded like the platform's MulDiv.
    static int MulDiv(int value, int num, int den)
    {
        return static_cast<int>(std::lround(static_cast<double>(value) * num / den));
    }
    int X(int units) const { return MulDiv(units, baseX, 4); }
    int Y(int units) const { return MulDiv(units, baseY, 8); }
    // Edges from x + width, so that touching controls stay touching.
    QRect Rect(const ControlTemplate& c) const
    {
        const int left = X(c.x);
        const int top = Y(c.y);
        return QRect(left, top, X(c.x + c.width) - left, Y(c.y + c.height) - top);
    }
};

DialogUnits UnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, metrics.height()};
}

QWidget* CreateButton(QDialog& dialog, const ControlTemplate& c, const QString& caption)
{
    // Qt keeps one default button: the first of the default style.
    const auto buttons = dialog.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
    const bool hasDefault = std::ranges::any_of(buttons, &QPushButton::isDefault);
    auto* button = new QPushButton(caption, &dialog);
    button->setDefault(c.kind == ControlKind::DefPushButton && !hasDefault);
    return button;
}

QWidget* CreateFrame(QDialog& dialog)
{
    auto* frame = new QFrame(&dialog);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(kFrameLineWidth);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    frame->setPalette(palette);
    return frame;
}

QWidget* CreateComboBox(QDialog& dialog)
{
    auto* combo = new QComboBox(&dialog);
    combo->setEditable(true);
    // Entries go where the code puts them, never where typing or sorting would.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QWidget* CreateIconLabel(QDialog& dialog, const DialogUnits& units, const ControlTemplate& c)
{
    auto* label = new QLabel(&dialog);
    const int side = std::min(units.X(c.width), units.Y(c.height));
    label->setPixmap(dialog.windowIcon().pixmap(side, side));
    return label;
}

QWidget* CreateControl(QDialog& dialog, const DialogUnits& units, const ControlTemplate& c)
{
    const QString caption = QString::fromUtf8(c.caption ? c.caption : "");
    switch (c.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: return CreateButton(dialog, c, caption);
    case ControlKind::Label: return new QLabel(caption, &dialog);
    case ControlKind::IconLabel: return CreateIconLabel(dialog, units, c);
    case ControlKind::BlackFrame: return CreateFrame(dialog);
    case ControlKind::ComboBox: return CreateComboBox(dialog);
    case ControlKind::Edit: return new QLineEdit(caption, &dialog);
    case ControlKind::CheckBox: return new QCheckBox(caption, &dialog);
    }
    return nullptr;
}

void PlaceControl(QWidget& widget, const DialogUnits& units, const ControlTemplate& c)
{
    QRect rect = units.Rect(c);
    // A combo box's template height is its drop-down's; closed, it keeps its natural height.
    if (c.kind == ControlKind::ComboBox) rect.setHeight(widget.sizeHint().height());
    widget.setGeometry(rect);
}

}  // namespace

QFont DialogFont(int pointSize)
{
    QFont font(QString::fromLatin1(kDialogFontFamily), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void BuildDialog(QDialog& dialog, const DialogTemplate& tmpl)
{
    dialog.setFont(DialogFont(tmpl.pointSize));
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
    const DialogUnits units = UnitsOf(dialog.font());
    for (const ControlTemplate& c : tmpl.controls) {
        QWidget* widget = CreateControl(dialog, units, c);
        if (c.id != kNoControlId) widget->setObjectName(QString::number(c.id));
        PlaceControl(*widget, units, c);
        if (c.styles & kStyleHidden) widget->hide();
        if (c.styles & kStyleDisabled) widget->setEnabled(false);
    }
    dialog.setFixedSize(units.X(tmpl.width), units.Y(tmpl.height));
}

QWidget* DialogItem(const QWidget& dialog, int id)
{
    return dialog.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}
