#include "ui/form1.h"

#include "clock/clocksetting.h"
#include "core/version.h"
#include "ui/applicationsetup.h"
#include "ui/offsetline.h"
#include "ui/parentcolourfill.h"
#include "ui/portselection.h"
#include "ui/receivewindow.h"
#include "ui/windowtexts.h"
#include "ui_form1.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QTimer>

namespace {

// The frames the window shows, for whoever wants to follow them on the console:
// QT_LOGGING_RULES="quorvel.frames.info=true". Off unless asked for.
Q_LOGGING_CATEGORY(lcFrames, "quorvel.frames", QtWarningMsg)

} // namespace

Form1::Form1(SerialPort *port, UserMessages *messages, ClockSetting *clock, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::Form1>()), m_port(port), m_messages(messages),
      m_clock(clock), m_timer1(new QTimer(this))
{
    m_ui->setupUi(this);
    setWindowIcon(programIcon());
    m_ui->Label10->setText(tr("Quorvel version %1 Junio 2007").arg(QLatin1String(ShownVersion)));

    // A scroll bar that does not repaint while the receive text has nothing to scroll; Text1
    // keeps the scroll bar policy the form gives it.
    m_ui->Text1->setVerticalScrollBar(new ReceiveScrollBar(m_ui->Text1));
    // The four displays fill their own background (form1.ui), so that a new caption repaints
    // its label only, not Frame1 and the window under it; they fill it with the colour that
    // Frame1 paints there, which is not always the window colour.
    new ParentColourFill(m_ui->Frame1, {m_ui->Label1, m_ui->Label3, m_ui->Label5, m_ui->Label7});

    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_receiveWindow = new ReceiveWindow(m_ui->Text1, this);
    m_offsetLine = new OffsetLine(m_ui->LabelOffset);
    m_receiver.emplace(m_receiveWindow->receiveText());

    // Only picking an entry of the list selects a port. Typing an entry's name in the text
    // field does not: no completion, and neither Enter nor leaving the field picks the entry
    // typed (QComboBox would take both as picking it; the form sets its insert policy to
    // NoInsert, which keeps Enter from adding entries).
    m_ui->Combo1->setCompleter(nullptr);
    disconnect(m_ui->Combo1->lineEdit(), &QLineEdit::editingFinished, m_ui->Combo1, nullptr);

    connect(m_ui->Combo1, &QComboBox::activated, this, &Form1::Combo1_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(m_timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    if (m_clock)
        connect(m_clock, &ClockSetting::finished, this, &Form1::clockSettingEnded);
    connect(m_receiveWindow, &ReceiveWindow::edited, this,
            [this](const QString &receiveText) { m_receiver->SetReceiveText(receiveText); });

    m_ui->Text1->setFocus();
}

Form1::~Form1() = default;

void Form1::Form_Load()
{
    Combo1_Click();
}

void Form1::Combo1_Click()
{
    selectPort(
        m_ui->Combo1->currentText(), m_port,
        [this](std::chrono::milliseconds interval) { m_timer1->start(interval); }, m_messages);
}

void Form1::Command1_Click()
{
    if (m_clock)
        m_clock->setFromFrame(m_receiver->LastFrame());
}

void Form1::clockSettingEnded(ClockBackend::Outcome outcome, const QString &systemText)
{
    // Nothing is said of a clock that was set.
    const QString text = clockSettingText(outcome, systemText);
    if (!text.isEmpty())
        m_messages->show(text);
}

void Form1::Command2_Click()
{
    // The steps of the window's closing. The program then ends without closing the window, so
    // they run once.
    Form_Unload();
}

void Form1::Command3_Click()
{
    m_messages->show(tr("Software %1 Junio 2007").arg(QLatin1String(ShownVersion))
                     + QLatin1String("\r\n") + tr("Hecho por el equipo de Quorvel, 2007"));
    m_messages->show(tr("Hasta la próxima."));
}

void Form1::Timer1_Timer()
{
    const bool open = m_receiver->Tick(m_port);
    // A new stream of the device (opened again, plugged in again, the service back): its
    // clock is judged anew.
    if (const int streams = m_port->streamsBegun(); streams != m_streamsBegun) {
        m_streamsBegun = streams;
        m_offsetLine->restart();
    }
    if (!open)
        return;
    m_offsetLine->setKeepingTime(m_port->keepingTime());
    m_receiveWindow->show(m_receiver->ReceiveText());
    if (const std::optional<Frame> frame = m_receiver->TakenFrame()) {
        qCInfo(lcFrames).noquote() << "frame shown:" << m_receiver->ReceiveText();
        showFrame(*frame);
        m_offsetLine->show(*frame);
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept(); // the closing is never refused
}

void Form1::Form_Unload()
{
    bool open = false;
    m_port->portOpen(&open);
    if (open)
        m_port->setPortOpen(false);
    emit programEndRequested();
}

void Form1::showFrame(const Frame &frame)
{
    m_ui->Label1->setText(frame.time);
    m_ui->Label3->setText(frame.date);
    // A number that names no day leaves the day shown as it was.
    const QString weekday = weekdayCaption(frame.weekday);
    if (!weekday.isEmpty())
        m_ui->Label5->setText(weekday);
    m_ui->Label7->setText(seasonCaption(frame.summer));
}
