#include "app/splash.h"

#include "common/naming.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace station {

Splash::Splash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setName(this, QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    auto *image = new QLabel(this);
    setName(image, QStringLiteral("Image1"));
    image->setPixmap(picture(QSize(480, 270)));
    auto *text = new QLabel(QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    setName(text, QStringLiteral("Label1"));
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(image);
    layout->addWidget(text);

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer1.setInterval(kTimer1Ms);
    m_timer2.setInterval(kTimer2Ms);
    connect(&m_timer1, &QTimer::timeout, this, &Splash::onTimer1);
    connect(&m_timer2, &QTimer::timeout, this, &Splash::onTimer2);
}

QPixmap Splash::picture(QSize size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(16, 48, 96));
    sky.setColorAt(1, QColor(64, 160, 200));
    p.fillRect(pixmap.rect(), sky);
    // A dotted grid and two trend curves, the station's own business.
    p.setPen(QPen(QColor(255, 255, 255, 60), 1, Qt::DotLine));
    for (int x = 0; x < size.width(); x += size.width() / 16)
        p.drawLine(x, 0, x, size.height());
    for (int y = 0; y < size.height(); y += size.height() / 9)
        p.drawLine(0, y, size.width(), y);
    const auto curve = [&](double phase, double level) {
        QPainterPath path;
        for (int x = 0; x <= size.width(); x += 4) {
            const double t = double(x) / size.width();
            const double y = size.height() * (level - 0.25 * (1 - std::exp(-4 * t)) - 0.03 * std::sin(18 * t + phase));
            x == 0 ? path.moveTo(x, y) : path.lineTo(x, y);
        }
        return path;
    };
    p.setPen(QPen(QColor(255, 80, 80), 3));
    p.drawPath(curve(0, 0.8));
    p.setPen(QPen(QColor(120, 160, 255), 3));
    p.drawPath(curve(1.3, 0.9));
    QFont font = p.font();
    font.setPixelSize(size.height() / 6);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, size.height() / 10, size.width(), size.height() / 4), Qt::AlignCenter,
               QStringLiteral("LX6100"));
    font.setPixelSize(size.height() / 14);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QRect(0, size.height() / 3, size.width(), size.height() / 8), Qt::AlignCenter,
               QStringLiteral("双回路控制器"));
    return pixmap;
}

void Splash::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_timer1.start();
}

void Splash::keyPressEvent(QKeyEvent *event)
{
    event->accept(); // keys do nothing here
}

void Splash::onTimer1()
{
    ++m_ticks;
    if (m_ticks > kTicksShown) {
        m_timer1.stop();
        m_ticks = 0;
        m_timer2.start();
    }
}

void Splash::onTimer2()
{
    m_timer1.stop();
    m_timer2.stop();
    close();
    emit finished();
}

} // namespace station
