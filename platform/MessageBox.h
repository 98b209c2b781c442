// The platform's OK-only message box, captioned with the application's name.
#pragma once

class QString;
class QWidget;

// Hook so that tests can see the boxes without running a modal loop.
using MessageBoxHook = void (*)(QWidget* owner, const QString& text);
void SetMessageBoxHook(MessageBoxHook hook);

void ShowMessage(QWidget* owner, const QString& text);

// A question with "确定" and "取消", captioned likewise; true for 确定. Closing the box
// answers 取消.
bool AskQuestion(QWidget* owner, const QString& text);
