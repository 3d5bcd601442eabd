#include "platform/DialogColours.h"

#include <QApplication>

QPalette DialogPalette()
{
    QPalette p = QApplication::palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, Qt::black);
        p.setColor(group, QPalette::WindowText, Qt::white);
    }
    p.setColor(QPalette::Disabled, QPalette::Window, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    return p;
}

void ApplyDialogColours()
{
    QApplication::setPalette(DialogPalette(), "QDialog");
}
