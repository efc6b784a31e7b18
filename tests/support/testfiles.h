// Small file helpers for the database fault tests.
#pragma once

#include <QByteArray>
#include <QString>

namespace station::test {

// size bytes of reproducible noise (xorshift from seed): what a damaged file holds.
QByteArray garbageBytes(int size, quint32 seed = 0x9E3779B9);

// The whole file, or nothing when it cannot be read.
QByteArray readFileBytes(const QString &path);

} // namespace station::test
