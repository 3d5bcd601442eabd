#include "browse/ImageView.h"

#include <QFileInfo>

CQuillmereNewClientView::CQuillmereNewClientView(QWidget *parent) : QLabel(parent)
{
    setAccessibleName(QStringLiteral("Image view"));
    setAlignment(Qt::AlignCenter);
    setMinimumSize(100, 100);
}

void CQuillmereNewClientView::SetFile(const QString &path)
{
    path_ = path;
    setText(QFileInfo(path).fileName());
    setAccessibleDescription(path);
}
