#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// Writes a file, making its folders first. Fails the running test when it cannot.
inline void writeFile(const QString &path, const QByteArray &content = {})
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(content), qint64(content.size()));
}

// `size` bytes that differ from photo to photo (by `seed`) and repeat nowhere near a block's
// length, so that a block sent twice, lost or misplaced shows in a byte comparison.
inline QByteArray Bytes(qint64 size, int seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[i] = char((i * 131 + seed) ^ (i >> 9));
    return b;
}

// A file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Sets a file's modification time, so that tests can tell one version of a file from another.
inline void setModified(const QString &path, qint64 secondsSinceEpoch)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch), QFileDevice::FileModificationTime));
}
