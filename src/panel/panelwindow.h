// The panel: the one window through which the operator drives the projector.
#pragma once

#include "commandsender.h"
#include "holdrepeater.h"
#include "layouttable.h"
#include "linkengine.h"
#include "panelbuilder.h"
#include "portselection.h"
#include "replyrouter.h"
#include "serialline.h"
#include "traffictrace.h"
#include "windowstates.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <memory>

class QAbstractButton;
class QLabel;
class QMessageBox;
class QRadioButton;

// Builds every control from the layout table, runs start-up, and wires each kind
// of control to one handler that looks its row up in a table. The window is
// handed its serial line (MSComm1), which must outlive it; the link engine, the
// port selection and the lens repeat belong to the window and live as long as
// it does, and the data panel's three lines mirror the engine's.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr char kTitle[] = "KELM   QVX-7300/7300L   CONTROL   Ver.1.40";
    // The window in twips: the fixed width and the full layout's outer height,
    // the size the window is centred with.
    static constexpr int kWidth = 9495;
    static constexpr int kFullOuterHeight = 9495;
    static constexpr std::chrono::milliseconds kPortGroupShown{5000};

    explicit PanelWindow(SerialLine &line, QWidget *parent = nullptr);

    // Window load: clears the form state, centres the window, sets the compact
    // height, opens COM1 at 9600 bit/s and selects COM1.
    void startUp();

    QWidget *control(layout::ControlId id) const { return m_controls[id.row()]; }
    template <typename T> T *control(layout::ControlId id) const { return qobject_cast<T *>(control(id)); }

    int clientHeight() const;
    void setClientHeight(int twips);

private:
    struct ButtonAction
    {
        layout::ControlId control;
        void (PanelWindow::*handler)();
    };
    struct PortOption
    {
        layout::ControlId control;
        int port;
        const char *settings;
    };
    // What takes a warning box away besides the operator's OK: nothing for a
    // failure the operator has to act on, the port's return for a line that is
    // waited for, the settings' late agreement for a device server.
    enum class WarningEnd { WhenAnswered, WhenPortBack, WhenSettingsApplied };

    static const std::array<ButtonAction, 4> kButtonActions;
    static const std::array<PortOption, 4> kPortOptions;

    void wire(layout::ControlId id, QWidget *widget);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void apply(const WindowStates::Change &change);
    void onPictureDoubleClicked();
    void switchDataPanel();
    void centre();

    void choose(const PortOption &option, bool reportFailure = true);
    void warn(const PortFailure &failure, WarningEnd end);
    void withdrawWarning(WarningEnd end);
    void showSpeed();
    void clearFreeText();
    void showPortGroup();
    void hidePortGroup();
    void end();
    void showLine(QLabel *label, const QByteArray &text);
    void showReplyTiming();

    SerialLine &m_line;
    // The window's parts are its children in the object tree, where tools and
    // tests that hold the window find them.
    LinkEngine m_link{m_line, this};
    PortSelection m_ports{m_line, this};
    CommandSender m_sender{m_link};
    HoldRepeater m_repeater{m_link, this};
    ReplyRouter m_router{m_link.commandPrefix()};
    std::unique_ptr<TrafficTrace> m_trace = TrafficTrace::fromEnvironment(m_link, m_ports);
    QTimer m_portGroupTimer{this};
    WindowStates m_states;

    layout::Controls m_controls;
    QWidget *m_portGroup = nullptr;
    QRadioButton *m_com1Option = nullptr;
    QAbstractButton *m_dataSwitch = nullptr;
    QLabel *m_sentLine = nullptr;
    QLabel *m_receivedLine = nullptr;
    QLabel *m_statusLine = nullptr;
    QMessageBox *m_warning = nullptr;
    WarningEnd m_warningEnd = WarningEnd::WhenAnswered;
};
