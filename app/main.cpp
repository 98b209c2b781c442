#include "app/PublishTaviskApp.h"

#include <QApplication>
#include <clocale>

int main(int argc, char** argv)
{
    // Without it every sibling of the native video frame becomes an X window too.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    // Settings and engine text are in the locale's character set.
    std::setlocale(LC_ALL, "");
    theApp.InitInstance();
    return 0;
}
