#include "platform/DialogColours.h"

#include <QApplication>
#include <QWidget>

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

void ApplyListColours(QWidget *widget)
{
    QPalette p = widget->palette();
    for (auto role : {QPalette::Base, QPalette::Window, QPalette::AlternateBase})
        p.setColor(role, ListGrey);
    for (auto role : {QPalette::Text, QPalette::WindowText})
        p.setColor(role, Qt::white);
    widget->setPalette(p);
}
