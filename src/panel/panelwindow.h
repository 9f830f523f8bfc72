// The panel: the one window through which the operator drives the projector.
#pragma once

#include "commandsender.h"
#include "comport.h"
#include "holdrepeater.h"
#include "layouttable.h"
#include "linkengine.h"
#include "portselection.h"
#include "replyrouter.h"
#include "traffictrace.h"
#include "windowstates.h"

#include <QHash>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

class QAbstractButton;
class QLabel;
class QRadioButton;

// Builds every control from the layout table, runs start-up, and wires each kind
// of control to one handler that looks its row up in a table. The serial line
// (MSComm1), the link engine and the port selection belong to the window and
// live as long as it does; the data panel's three lines mirror the engine's.
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

    explicit PanelWindow(QWidget *parent = nullptr);

    // Window load: clears the form state, centres the window, sets the compact
    // height, opens COM1 at 9600 bit/s and selects COM1.
    void startUp();

    QWidget *control(std::string_view name) const;
    template <typename T> T *control(std::string_view name) const { return qobject_cast<T *>(control(name)); }

    LinkEngine &link() { return m_link; }
    const CommandSender &sender() const { return m_sender; }
    HoldRepeater &repeater() { return m_repeater; }
    const ReplyRouter &router() const { return m_router; }
    SerialLine &line() { return m_comm; }
    PortSelection &ports() { return m_ports; }
    QTimer &timer3() { return m_timer3; }
    const WindowStates &states() const { return m_states; }

    int clientHeight() const;
    void setClientHeight(int twips);

private:
    struct ButtonAction
    {
        std::string_view control;
        void (PanelWindow::*handler)();
    };
    struct PortOption
    {
        std::string_view control;
        int port;
        const char *settings;
    };
    static const std::array<ButtonAction, 4> kButtonActions;
    static const std::array<PortOption, 4> kPortOptions;

    void buildControls();
    QWidget *createControl(const layout::ControlRow &row, QWidget *container);
    QWidget *createButton(const layout::ControlRow &row, QWidget *container);
    void setTabOrder();
    void describe(QWidget *widget, std::string_view name);
    bool eventFilter(QObject *watched, QEvent *event) override;
    void apply(const WindowStates::Change &change);
    void onPictureDoubleClicked();
    void switchDataPanel();
    void centre();

    void onButtonClicked(std::string_view name);
    void choose(const PortOption &option, bool reportFailure = true);
    void warn(const PortFailure &failure);
    void showSpeed();
    void clearFreeText();
    void showPortGroup();
    void hidePortGroup();
    void end();
    void showLine(QLabel *label, const QByteArray &text);
    void showReplyTiming();

    ComPort m_comm;
    LinkEngine m_link{m_comm};
    PortSelection m_ports{m_comm};
    CommandSender m_sender{m_link};
    HoldRepeater m_repeater{m_link};
    ReplyRouter m_router{m_link.commandPrefix()};
    std::unique_ptr<TrafficTrace> m_trace = TrafficTrace::fromEnvironment(m_link, m_ports);
    QTimer m_timer3;
    WindowStates m_states;

    QHash<QString, QWidget *> m_controls;
    QWidget *m_frame8 = nullptr;
    QRadioButton *m_option1 = nullptr;
    QAbstractButton *m_command34 = nullptr;
    QLabel *m_label11 = nullptr;
    QLabel *m_label12 = nullptr;
    QLabel *m_label22 = nullptr;
};
