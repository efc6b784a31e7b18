#include "bench/station/procstat.h"

#include <QFile>
#include <QList>
#include <QThread>
#include <unistd.h>

namespace station::bench {

namespace {

QByteArray procFile(pid_t pid, const char *name)
{
    const QByteArray path = pid == 0 ? QByteArray("/proc/self/") + name
                                     : QByteArray("/proc/") + QByteArray::number(pid) + '/' + name;
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// The number after `key` ("VmHWM:   12345 kB"), or -1.
long long statusField(const QByteArray &status, const QByteArray &key)
{
    for (const QByteArray &line : status.split('\n'))
        if (line.startsWith(key)) {
            bool ok = false;
            const long long v = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? v : -1;
        }
    return -1;
}

} // namespace

double CpuTime::seconds() const
{
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

std::optional<CpuTime> cpuTime(pid_t pid)
{
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so
    // count the fields from the last ')'. After it, field 3 (state) is index 0;
    // utime (field 14) is index 11, stime (field 15) index 12.
    const QByteArray stat = procFile(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    constexpr int kUtime = 11;
    constexpr int kStime = 12;
    if (fields.size() <= kStime)
        return std::nullopt;
    return CpuTime{fields[kUtime].toLongLong() + fields[kStime].toLongLong()};
}

std::optional<Memory> memory(pid_t pid)
{
    const QByteArray status = procFile(pid, "status");
    const long long peak = statusField(status, "VmHWM:");
    const long long current = statusField(status, "VmRSS:");
    if (peak < 0 || current < 0)
        return std::nullopt;
    return Memory{peak, current};
}

QByteArray machine()
{
    QByteArray model = "?";
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    const QByteArray text = cpuinfo.open(QIODevice::ReadOnly) ? cpuinfo.readAll() : QByteArray();
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith("model name")) {
            model = line.mid(line.indexOf(':') + 1).trimmed();
            break;
        }
    return QByteArray::number(QThread::idealThreadCount()) + " cores, " + model;
}

} // namespace station::bench
