// The program editor window Tech, "工艺曲线设定": one entry control per program
// option and segment value, each written to its register when it loses the
// focus after the operator edited it; read-back labels beside every entry, the
// run status of the controller's program and a preview of both set-point
// curves, refreshed every 600 ms while the window is open.
//
// The window never fills its entries from the controller: segment boxes and
// the cycle count start empty, each combo on its first entry. A control is
// therefore written only when, on leaving, its text (or a combo box's entry)
// differs from what it held when it took the focus and is not empty
// (common/writeonleave.h), never on mere focus traversal, and a combo text that
// matches no entry writes nothing; otherwise tabbing through the window would
// overwrite the controller's program with zeros and first options. The mouse
// wheel changes only a combo box that has the focus.
//
// Control names (objectName and accessible description):
//   Frame9 run status: Label16_0..8 captions, Pro_S_0..8 values
//   Frame2 options: Combo2, Combo4, Combo1, Combo8, Combo3, TextA_2 (cycle
//     count), captions Label1_j and read-back labels Label3_j, j = slot 0..5
//   Frame1_0..7 "SEG1 设定" ... : TxtB_i (segment entry i), captions Label2_i,
//     read-back labels Label3_(8+i)
//   pt1 preview with Label6_0..9 (values), Label8_0..15 (times), Label7_0 and
//     Label7_1 (axis titles), Label4 "当前程序曲线：", Label5, Label10, Label11
//     (vertical maximum, minimum, label step)
//   Command11 " Esc 返回", refresh timer Timer1
#pragma once

#include "program/preview.h"
#include "program/programregisters.h"

#include <QHash>
#include <QSet>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace station {
class WriteOnLeave;
}

namespace station::draw {
class Canvas;
class PictureBox;
} // namespace station::draw

namespace station::program {

class ProgramEditor : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 600;

    // Loads the window: fills the combos, draws the empty preview and starts
    // the refresh timer. Nothing is written at load.
    explicit ProgramEditor(QWidget *parent = nullptr);
    ~ProgramEditor() override;

    // The window shown again when the operator returns (not owned).
    void setMainWindow(QWidget *mainWindow) { m_mainWindow = mainWindow; }

    // One refresh, the timer's work: run status, then the block read through
    // the link thread; when its third run has come back, read-back labels,
    // segment tables, preview with the previous scale, start point, vertical
    // range, and refreshed() is emitted. A refresh asked for while one is
    // running is dropped. No step waits for the line.
    void refresh();
    bool isRefreshing() const { return m_refreshing; }

    // Called at every yield between two runs of the block read (tests watch
    // the read through it); none by default.
    void setYield(std::function<void()> atYield) { m_blockRead.setYield(std::move(atYield)); }
    // The canvas the preview is drawn on; nullptr (the default) is the picture box.
    void setCanvas(draw::Canvas *canvas) { m_canvas = canvas; }
    draw::Canvas &canvas();

    const ProgramImage &image() const { return m_image; }
    const SegmentTables &tables() const { return m_tables; }
    const PreviewScale &scale() const { return m_scale; }
    bool closeAllowed() const { return m_closeAllowed; }

    // The return button: writes the edited control that has the focus, allows
    // closing, unloads the window and shows the main window again. The window
    // then deletes itself (deleteLater, after a refresh in progress has
    // unwound), so an editor that may return is created with new.
    void returnToMain();

signals:
    // Emitted once the main window is shown again, before the window is deleted.
    void returned();
    // Emitted when a refresh has run all its steps.
    void refreshed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // A control that writes one register when it loses the focus.
    struct Entry {
        enum class Kind { Combo, Text } kind;
        std::int32_t reg;
        QStringList entries;  // combo list
        QString caption;      // for the journal: what the operator reads beside it
    };

    void buildStatusGroup();
    void buildOptionGroup();
    void buildSegmentGroups();
    void buildPreview();
    QLabel *addReadBackLabel(QWidget *parent, int slot, const QRect &geometry);
    bool write(QWidget *control);
    void finishRefresh();
    void drawPreview();
    void showVerticalLabels(const VerticalLabels &labels);

    bool m_closeAllowed = false;
    bool m_refreshing = false;
    bool m_returning = false;
    QPointer<QWidget> m_mainWindow;
    link::ReadChain m_blockRead;
    draw::Canvas *m_canvas = nullptr;

    ProgramImage m_image{};
    SegmentTables m_tables{};
    PreviewScale m_scale{};

    QHash<QObject *, Entry> m_entries;
    WriteOnLeave *m_writes = nullptr; // writes an edited control when it is left

    std::array<QLabel *, 9> m_status{};
    std::array<QLabel *, 41> m_readBack{};
    std::array<QLineEdit *, kSegmentEntries> m_boxes{};
    std::array<QLabel *, preview::kValueLabels> m_valueLabels{};
    std::array<QLabel *, preview::kTimeLabels> m_timeLabels{};
    QLabel *m_timeTitle = nullptr;
    QLabel *m_maxLabel = nullptr;
    QLabel *m_minLabel = nullptr;
    QLabel *m_stepLabel = nullptr;
    draw::PictureBox *m_preview = nullptr;
    QPushButton *m_return = nullptr;
    QTimer *m_timer = nullptr;
};

// The main window's "曲线设置": hides the main window and shows a freshly
// loaded editor, which deletes itself on return after showing the main window
// again. Returns the editor.
ProgramEditor *openProgramEditor(QWidget *mainWindow);

} // namespace station::program
