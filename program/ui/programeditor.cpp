#include "program/ui/programeditor.h"

#include "program/runstatus.h"
#include "program/ui/segmentbox.h"
#include "program/ui/twips.h"

#include "chart/draw/picturebox.h"
#include "common/colors.h"
#include "common/combowheel.h"
#include "common/logging.h"
#include "common/naming.h"
#include "common/windowfit.h"
#include "common/writeonleave.h"
#include "link/registerimage.h"
#include "link/writetag.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace station::program {

using ui::twipsRect;

namespace {

// Geometry of the window, in twips.
constexpr int kClientWidth = 19530;
constexpr int kClientHeight = 11715;
constexpr int kPreviewLeft = 1080;
constexpr int kPreviewTop = 1800;
constexpr int kSegmentGroupLeft = 16170;
constexpr int kSegmentGroupTop = 60;
constexpr int kSegmentGroupPitch = 1380;
constexpr std::array kSegmentRowTops{180, 540, 930};  // SV1, SV2, TIME within a group
constexpr int kBottomRowTop = 11160;
const QString kCycleCountCaption = QStringLiteral("程序循环次数");

const QColor kTimeLabelColor{0, 0, 255};
const QColor kAxisTitleColor{255, 0, 0};

constexpr int kCycleCountMaxLength = 64;

QLabel *makeLabel(QWidget *parent, const QString &text, const QString &name, const QRect &geometry,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = new QLabel(text, parent);
    setName(label, name);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

} // namespace

ProgramEditor::ProgramEditor(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setName(this, QStringLiteral("Tech"));
    setWindowTitle(QStringLiteral("工艺曲线设定"));
    setFixedSize(ui::twipsSize(kClientWidth, kClientHeight));

    m_writes = new WriteOnLeave([this](QWidget *control) { return write(control); }, this);
    buildStatusGroup();
    buildOptionGroup();
    buildSegmentGroups();
    buildPreview();
    keepWheelOffUnfocusedCombos(this);

    m_return = new QPushButton(QStringLiteral(" Esc 返回"), this);
    setName(m_return, QStringLiteral("Command11"));
    m_return->setGeometry(twipsRect(15000, 11280, 1530, 405));
    m_return->setAutoDefault(false);
    connect(m_return, &QPushButton::clicked, this, &ProgramEditor::returnToMain);

    // Load: the preview is drawn once with all scale values 0 before the first refresh.
    canvas().setBackColor(preview::kBackColor);
    drawPreview();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &ProgramEditor::refresh);
    m_timer->start();
}

ProgramEditor::~ProgramEditor() = default;

void ProgramEditor::buildStatusGroup()
{
    auto *group = new QGroupBox(QStringLiteral("曲线状态"), this);
    setName(group, QStringLiteral("Frame9"));
    group->setGeometry(twipsRect(90, 150, 7845, 1545));
    static const std::array<const char16_t *, kStatusLabels> captions{
        u"曲线状态", u"PV1", u"SV1", u"PV2", u"SV2", u"当前段号", u"段剩余", u"总剩余", u"循环次数"};
    constexpr int pitch = 860;
    for (int i = 0; i < kStatusLabels; ++i) {
        const int left = 60 + pitch * i;
        makeLabel(group, QString::fromUtf16(captions[std::size_t(i)]), elementName(QStringLiteral("Label16"), i),
                  twipsRect(left, 300, pitch - 40, 330), Qt::AlignCenter);
        QLabel *value = makeLabel(group, QString(), elementName(QStringLiteral("Pro_S"), i),
                                  twipsRect(left, 800, pitch - 40, 420), Qt::AlignCenter);
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        m_status[std::size_t(i)] = value;
    }
}

QLabel *ProgramEditor::addReadBackLabel(QWidget *parent, int slot, const QRect &geometry)
{
    QLabel *label = makeLabel(parent, QString(), elementName(QStringLiteral("Label3"), slot), geometry,
                              Qt::AlignCenter);
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, colors::kReadBack);
    label->setPalette(p);
    label->setFrameShape(QFrame::Box);
    m_readBack[std::size_t(slot)] = label;
    return label;
}

void ProgramEditor::buildOptionGroup()
{
    auto *group = new QGroupBox(QStringLiteral("功能设定"), this);
    setName(group, QStringLiteral("Frame2"));
    group->setGeometry(twipsRect(8220, 60, 7875, 1695));

    // Slots 0..5 in reading order, two columns of three rows: a caption, the
    // entry control and its read-back label.
    const auto &options = comboOptions();
    const auto optionFor = [&](std::int32_t reg) -> const ComboOption * {
        for (const ComboOption &o : options)
            if (o.reg == reg)
                return &o;
        return nullptr;
    };
    for (int slot = 0; slot <= imageSlot(reg::kEndOutput); ++slot) {
        const std::int32_t reg = reg::kBlockFirst + slot;
        const int left = 90 + 3870 * (slot % 2);
        const int top = 300 + 450 * (slot / 2);
        const ComboOption *option = optionFor(reg);
        makeLabel(group, option ? option->caption : kCycleCountCaption,
                  elementName(QStringLiteral("Label1"), slot), twipsRect(left, top, 1100, 330),
                  Qt::AlignRight | Qt::AlignVCenter);
        const QRect controlRect = twipsRect(left + 1140, top, 1450, 330);
        if (option) {
            auto *combo = new QComboBox(group);
            setName(combo, option->control);
            combo->setGeometry(controlRect);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            combo->addItems(option->entries);
            combo->setCurrentIndex(0);
            combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0) + 8);
            m_writes->watch(combo);
            m_entries.insert(combo, {Entry::Kind::Combo, reg, option->entries, option->caption});
        } else {
            auto *text = new QLineEdit(group);
            setName(text, QStringLiteral("TextA"), kCycleCountEntry);
            text->setGeometry(controlRect);
            text->setMaxLength(kCycleCountMaxLength);
            m_writes->watch(text);
            m_entries.insert(text, {Entry::Kind::Text, textEntryRegister(kCycleCountEntry), {}, kCycleCountCaption});
        }
        addReadBackLabel(group, slot, twipsRect(left + 2630, top, 1200, 330));
    }
}

void ProgramEditor::buildSegmentGroups()
{
    static const std::array<const char16_t *, 3> captions{u"设定值SV1", u"设定值SV2", u"设定值TIME"};
    for (int n = 0; n < kSegments; ++n) {
        auto *group = new QGroupBox(QStringLiteral("SEG%1 设定").arg(n + 1), this);
        setName(group, QStringLiteral("Frame1"), n);
        group->setGeometry(twipsRect(kSegmentGroupLeft, kSegmentGroupTop + kSegmentGroupPitch * n, 3285, 1335));
        for (int k = 0; k < 3; ++k) {
            const int entry = segmentEntry(n + 1, SegmentField(k));
            const int top = kSegmentRowTops[std::size_t(k)];
            makeLabel(group, QString::fromUtf16(captions[std::size_t(k)]), elementName(QStringLiteral("Label2"), entry),
                      twipsRect(90, top, 1050, 315));
            auto *box = new SegmentBox(group);
            setName(box, QStringLiteral("TxtB"), entry);
            box->setGeometry(twipsRect(1170, top, 900, 315));
            m_writes->watch(box);
            m_entries.insert(box, {Entry::Kind::Text, segmentEntryRegister(entry), {},
                                   QStringLiteral("SEG%1 ").arg(n + 1) + QString::fromUtf16(captions[std::size_t(k)])});
            m_boxes[std::size_t(entry)] = box;
            addReadBackLabel(group, segmentEntrySlot(entry), twipsRect(2130, top, 1065, 315));
        }
    }
}

void ProgramEditor::buildPreview()
{
    m_preview = new draw::PictureBox(QSizeF(preview::kWidth, preview::kHeight), this);
    setName(m_preview, QStringLiteral("pt1"));
    m_preview->setGeometry(twipsRect(kPreviewLeft, kPreviewTop, int(preview::kWidth), int(preview::kHeight)));

    const int bottom = kPreviewTop + int(preview::kHeight);
    // Value labels beside the horizontal grid lines 1000 units apart, bottom to top.
    for (int i = 0; i < preview::kValueLabels; ++i) {
        const int centre = bottom - preview::kDivision * i;
        m_valueLabels[std::size_t(i)] =
            makeLabel(this, QString::number(i * 4000), elementName(QStringLiteral("Label6"), i),
                      twipsRect(60, centre - 120, 960, 240), Qt::AlignRight | Qt::AlignVCenter);
    }
    // Time labels under the vertical grid lines; the last one is kept within
    // the preview's right edge, clear of the segment groups.
    constexpr int timeWidth = 600;
    const int rightLimit = kPreviewLeft + int(preview::kWidth) + 60;
    for (int i = 0; i < preview::kTimeLabels; ++i) {
        const int left = std::min(kPreviewLeft + preview::kDivision * i - timeWidth / 2, rightLimit - timeWidth);
        QLabel *label = makeLabel(this, QString::number(i), elementName(QStringLiteral("Label8"), i),
                                  twipsRect(left, bottom + 30, timeWidth, 240), Qt::AlignCenter);
        setTextColor(label, kTimeLabelColor);
        m_timeLabels[std::size_t(i)] = label;
    }
    QLabel *valueTitle = makeLabel(this, QStringLiteral("温度  ℃ "), elementName(QStringLiteral("Label7"), 0),
                                   twipsRect(60, kBottomRowTop, 1000, 270));
    setTextColor(valueTitle, kAxisTitleColor);
    m_timeTitle = makeLabel(this, QStringLiteral("时间   MIN"), elementName(QStringLiteral("Label7"), 1),
                            twipsRect(12300, kBottomRowTop, 2500, 270));
    setTextColor(m_timeTitle, kAxisTitleColor);

    makeLabel(this, QStringLiteral("当前程序曲线："), QStringLiteral("Label4"), twipsRect(1200, kBottomRowTop, 1800, 270));
    m_maxLabel = makeLabel(this, QString(), QStringLiteral("Label5"), twipsRect(3000, kBottomRowTop, 900, 270));
    m_minLabel = makeLabel(this, QString(), QStringLiteral("Label10"), twipsRect(4000, kBottomRowTop, 900, 270));
    m_stepLabel = makeLabel(this, QString(), QStringLiteral("Label11"), twipsRect(5000, kBottomRowTop, 1200, 270));
}

draw::Canvas &ProgramEditor::canvas()
{
    return m_canvas ? *m_canvas : m_preview->canvas();
}

bool ProgramEditor::write(QWidget *control)
{
    const auto it = m_entries.constFind(control);
    if (it == m_entries.constEnd())
        return false;

    std::optional<std::int32_t> value;
    QString entered;
    if (it->kind == Entry::Kind::Combo) {
        auto *combo = static_cast<QComboBox *>(control);
        entered = combo->currentText();
        const int number = optionNumber(it->entries, combo->currentText());
        if (number < 0) {
            qCDebug(lcProgram, "%s: text matches no entry, nothing written", qPrintable(control->objectName()));
            return false;
        }
        combo->setEditText(QString::number(number));
        value = entryValue(combo->currentText());
    } else {
        entered = static_cast<QLineEdit *>(control)->text();
        value = entryValue(entered);
    }
    if (!value) {
        qCDebug(lcProgram, "%s: value out of range, nothing written", qPrintable(control->objectName()));
        return false;
    }
    // For the journal: this window, the control, its caption, the text and
    // what the read-back label beside it showed before.
    link::WriteTag tag{objectName(), control->objectName(), it->caption, entered, std::nullopt};
    if (const QLabel *shown = m_readBack[std::size_t(imageSlot(it->reg))]; shown && !shown->text().isEmpty())
        tag.shownBefore = shown->text();
    writeProgramRegister(it->reg, *value, link::tagged(std::move(tag)));
    return true;
}

void ProgramEditor::drawPreview()
{
    const TimeAxis axis = program::drawPreview(canvas(), m_tables, m_scale);
    for (int i = 0; i < preview::kTimeLabels; ++i)
        m_timeLabels[std::size_t(i)]->setText(QString::number(axis.labels[std::size_t(i)]));
}

void ProgramEditor::showVerticalLabels(const VerticalLabels &labels)
{
    m_maxLabel->setText(labels.maximum);
    m_minLabel->setText(labels.minimum);
    m_stepLabel->setText(labels.step);
    for (int i = 0; i < preview::kValueLabels; ++i)
        m_valueLabels[std::size_t(i)]->setText(labels.values[std::size_t(i)]);
}

void ProgramEditor::refresh()
{
    if (m_refreshing || m_returning)
        return;
    m_refreshing = true;
    const RegisterImage &image = registerImage();

    // 1: run status from the register image.
    const auto status = runStatusTexts(image.programStatus);
    for (int i = 0; i < kStatusLabels; ++i)
        m_status[std::size_t(i)]->setText(status[std::size_t(i)]);

    // 2: the block read on the link thread; pending events run between its
    // runs, the return button among them. The rest follows when it is done.
    readProgramBlock(m_blockRead, m_image, [this] { finishRefresh(); });
}

void ProgramEditor::finishRefresh()
{
    const RegisterImage &image = registerImage();
    // 3, 4: read-back labels and the decoded options.
    const ReadBack readBack = readBackTexts(m_image);
    for (int j = 0; j < kReadBackLabels; ++j)
        if (readBack.labels[std::size_t(j)] && m_readBack[std::size_t(j)])
            m_readBack[std::size_t(j)]->setText(*readBack.labels[std::size_t(j)]);
    if (readBack.timeAxisTitle)
        m_timeTitle->setText(*readBack.timeAxisTitle);

    // 5, 6: the program as typed, drawn with the scale of the refresh before.
    fillSegmentTables(m_tables, [this](int entry) {
        return segmentEntryExists(entry) ? m_boxes[std::size_t(entry)]->text() : QString();
    });
    drawPreview();

    // 7, 8: start point and vertical range for the next drawing.
    takeStartPoint(m_tables, m_image[std::size_t(imageSlot(reg::kStartSetValue))], image.liveSample);
    showVerticalLabels(updateVerticalRange(m_tables, m_scale));
    m_refreshing = false;
    emit refreshed();
}

void ProgramEditor::returnToMain()
{
    if (m_returning)
        return;
    // The control that has the focus loses it before the window goes.
    m_writes->leave(focusWidget());
    m_closeAllowed = true;
    m_returning = true;
    m_timer->stop();
    close();
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->activateWindow();
    }
    emit returned();
    // A block read in progress ends here: its runs that have not gone out are
    // dropped, a reply on its way is not stored. Writes queued by this window
    // stay queued and go out.
    m_blockRead.stop();
    m_refreshing = false;
    deleteLater();
}

void ProgramEditor::closeEvent(QCloseEvent *event)
{
    if (!m_closeAllowed)
        event->ignore();
    else
        QWidget::closeEvent(event);
}

ProgramEditor *openProgramEditor(QWidget *mainWindow)
{
    auto *editor = new ProgramEditor;
    editor->setMainWindow(mainWindow);
    QScreen *screen = mainWindow ? mainWindow->screen() : nullptr;
    if (mainWindow)
        mainWindow->hide();
    showScaledToFit(editor, screen);
    return editor;
}

} // namespace station::program
