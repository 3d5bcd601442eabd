#pragma once

#include <QLabel>
#include <QString>

// The image view pane. For now it names the photo it would show; the render worker and the
// zoomed, turned picture take its place without changing this interface.
class CQuillmereNewClientView : public QLabel
{
    Q_OBJECT
public:
    explicit CQuillmereNewClientView(QWidget *parent = nullptr);

    void SetFile(const QString &path);
    QString path() const { return path_; }

private:
    QString path_;
};
