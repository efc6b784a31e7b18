#include "common/naming.h"

#include <QWidget>

namespace station {

void setName(QObject *object, const QString &name)
{
    if (!object)
        return;
    object->setObjectName(name);
    if (auto *widget = qobject_cast<QWidget *>(object))
        widget->setAccessibleDescription(name);
}

QString elementName(const QString &name, int index)
{
    return name + u'_' + QString::number(index);
}

void setName(QObject *object, const QString &name, int index)
{
    setName(object, elementName(name, index));
}

} // namespace station
