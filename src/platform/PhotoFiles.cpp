#include "platform/PhotoFiles.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QDir>
#include <QLocale>

#include <algorithm>
#include <vector>

bool IsPhotoFile(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView name = QStringView(path).mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QString ext = name.mid(dot).toString().toLower();
    return ext == u".jpg" || ext == u".jpeg" || ext == u".tiff" || ext == u".tif";
}

void SortLikeFileManager(QStringList &names)
{
    // The "C" locale collates by code point and knows no numbers; a user with no language
    // set still expects IMG_2 before IMG_10.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);

    // Sort keys are computed once per name: comparing through the collator directly costs
    // a full collation per comparison, which shows on folders of many thousand photos.
    struct Keyed {
        QCollatorSortKey key;
        QString name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(names.size()));
    for (const QString &name : std::as_const(names))
        keyed.push_back({collator.sortKey(name), name});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].name);
}

QStringList FolderEntryNames(const QString &folder)
{
    // QDir reads an empty path as the current folder, which is never what a caller meant.
    if (folder.isEmpty())
        return {};
    QDir dir(folder);
    QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Unsorted);
    SortLikeFileManager(names);
    return names;
}

QString CompactPath(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return text;
    const QString dots = QStringLiteral("...");
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    const QString tail = slash >= 0 ? text.mid(slash) : QString();
    if (slash >= 0 && tail.size() + dots.size() <= maxChars)
        return text.left(maxChars - dots.size() - tail.size()) + dots + tail;
    const QString name = slash >= 0 ? text.mid(slash + 1) : text;
    return name.left(std::max(0, maxChars - int(dots.size()))) + dots;
}
