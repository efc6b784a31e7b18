#include "record/publish/statefile.h"

#include <QFile>
#include <QSaveFile>

namespace station::publish {

namespace {

constexpr char kHeader[] = "# lx6100-publish: the last row of each stream the broker acknowledged\n";

bool validName(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    for (char c : name)
        if (c < 'a' || c > 'z')
            return false;
    return true;
}

} // namespace

QByteArray stateText(const Positions &positions)
{
    QByteArray text(kHeader);
    for (auto it = positions.cbegin(); it != positions.cend(); ++it)
        text += it.key() + ' ' + QByteArray::number(it->id) + ' ' + it->mark + '\n';
    return text;
}

StateRead parseState(const QByteArray &text)
{
    StateRead r;
    r.status = StateRead::Status::Read;
    int lineNumber = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++lineNumber;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // The mark may be empty (id 0: before the oldest row), and the line's
        // trailing blank is gone then.
        const qsizetype first = line.indexOf(' ');
        const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        bool ok = false;
        const QByteArray name = line.left(first);
        const qint64 id = first < 0 ? 0 : line.mid(first + 1, second < 0 ? -1 : second - first - 1).toLongLong(&ok);
        if (!ok || !validName(name) || r.positions.contains(name)) {
            r.status = StateRead::Status::Malformed;
            r.error = QStringLiteral("line %1 is not <stream> <id> <mark>").arg(lineNumber);
            r.positions.clear();
            return r;
        }
        r.positions.insert(name, Position{id, second < 0 ? QByteArray() : line.mid(second + 1)});
    }
    return r;
}

StateRead readStateFile(const QString &path)
{
    QFile f(path);
    if (!f.exists())
        return StateRead{};
    if (!f.open(QIODevice::ReadOnly))
        return StateRead{StateRead::Status::Unreadable, f.errorString(), {}};
    const QByteArray text = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return StateRead{StateRead::Status::Unreadable, f.errorString(), {}};
    return parseState(text);
}

bool writeStateFile(const QString &path, const Positions &positions, QString *error)
{
    // QSaveFile writes beside the file, syncs it to disk and renames it over
    // the old one at commit().
    QSaveFile f(path);
    const QByteArray text = stateText(positions);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace station::publish
