#include "platform/Icons.h"

// The pictures are compiled into a static library: nothing refers to its resource
// initialiser, so the linker would drop it unless it is called by name.
static void InitIconResources()
{
    Q_INIT_RESOURCE(quillmere_icons);
}

QString CommandIconResource(const QString &name)
{
    return QStringLiteral(":/icons/commands/") + name + QStringLiteral(".svg");
}

QIcon CommandIcon(const QString &themeName, const QString &fallbackResource)
{
    InitIconResources();
    const QIcon fallback(fallbackResource);
    return themeName.isEmpty() ? fallback : QIcon::fromTheme(themeName, fallback);
}

QIcon ProgramIcon()
{
    return CommandIcon(QStringLiteral("quillmere"), QStringLiteral(":/icons/quillmere.svg"));
}

QIcon TrayProgressIcon(int frame)
{
    InitIconResources();
    return QIcon(frame % 2 == 0 ? QStringLiteral(":/icons/tray-upload-0.svg") : QStringLiteral(":/icons/tray-upload-1.svg"));
}

QPixmap FailureBadge()
{
    InitIconResources();
    return QIcon(QStringLiteral(":/icons/failure-badge.svg")).pixmap(QSize(24, 24));
}
