// lx6100-publish's command line.
#pragma once

#include <QString>
#include <QStringList>

namespace station::publish {

struct Options {
    QString database;          // the sample database
    QString broker;            // as given, for messages
    QString host;
    int port = 0;
    bool tls = false;
    QString topic;             // prefix, no trailing '/'
    bool raw = false;
    QString username;
    QString passwordFile;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString statePath;
    bool backfill = false;
    double rate = 0;
    int keepAlive = 0;
};

struct ParsedOptions {
    enum class Status { Run, Help, Usage };
    Status status = Status::Usage;
    QString text;  // the help text, or what is wrong with the command line
    Options options;
};

inline constexpr int kDefaultMqttPort = 1883;
inline constexpr int kDefaultMqttsPort = 8883;
inline constexpr double kDefaultRate = 500;
inline constexpr int kDefaultKeepAlive = 30;

// arguments as main() gets them, the program's name first.
ParsedOptions parseOptions(const QStringList &arguments);

} // namespace station::publish
