#include "app/demo.h"

#include "app/functionpanel.h"
#include "app/mainwindow.h"

#include "chart/trendchart.h"

#include <QLineEdit>
#include <QPushButton>

namespace station::demo {

void showSimulatedRange(MainWindow &window)
{
    FunctionPanel *f = window.functionPanel();
    f->yMaximum()->setText(QString::number(kYMaximum));
    f->applyY()->click();
    window.trendChart()->repaintChart();
}

} // namespace station::demo
