#pragma once

#include <QPoint>
#include <QSize>

// Where a minimized window draws its icon: centred, rounding toward zero.
inline QPoint MinimizedIconPosition(QSize client, QSize icon)
{
    return {(client.width() - icon.width() + 1) / 2, (client.height() - icon.height() + 1) / 2};
}
