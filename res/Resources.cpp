#include "res/Resources.h"

#include <QString>

QString LoadResourceString(int id)
{
    return id == IDS_ABOUTBOX ? QStringLiteral("关于 publish_tavisk(&A)...") : QString();
}

QIcon LoadAppIcon()
{
    // The resources live in a static library: nothing else would register them.
    Q_INIT_RESOURCE(res);
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/publish_tavisk-%1.png").arg(size), QSize(size, size));
    return icon;
}
