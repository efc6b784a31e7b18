#include "tests/support/testfiles.h"

#include <QFile>

namespace station::test {

QByteArray garbageBytes(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    quint32 x = seed;
    for (char &c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x & 0xff);
    }
    return bytes;
}

QByteArray readFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace station::test
