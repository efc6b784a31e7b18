// What a window tells about one of its writes, for the event journal: the tag
// it hands to writeWithRetry(), which comes back unchanged with the write's
// outcome (link/writeoutcome.h). The link never looks inside it.
#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>

#include <optional>

namespace station::link {

struct WriteTag {
    QString window;   // the window's object name: ssqx, CONFIG1, Tech
    QString control;  // the entry control's object name: Text1_0, Combo8, TxtB_4
    QString caption;  // what the operator reads beside it: 设定SV1, 通讯波特率, SEG2 设定值TIME
    QString entered;  // the control's text when it was written ("12.5", "1:9600BPS ")
    // What the display beside the control showed just before (the controller's
    // value as last read); nullopt where the window has no such display.
    std::optional<QString> shownBefore;
};

inline QVariant tagged(WriteTag tag)
{
    return QVariant::fromValue(std::move(tag));
}

} // namespace station::link

Q_DECLARE_METATYPE(station::link::WriteTag)
