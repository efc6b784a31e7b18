// Every window and control carries its name as objectName and as accessible
// description, so UI automation and tests find it; an element of a control
// array is named Name_i.
#pragma once

#include <QString>

class QObject;
class QWidget;

namespace station {

// Sets objectName (and, for widgets, the accessible description) to name.
void setName(QObject *object, const QString &name);
// Same for element index of the control array name: "name_index".
void setName(QObject *object, const QString &name, int index);
QString elementName(const QString &name, int index);

} // namespace station
