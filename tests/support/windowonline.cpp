#include "tests/support/windowonline.h"

void pickEntry(QComboBox *combo, int index, const std::function<void()> &justBefore)
{
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    const QRect entry = view->visualRect(view->model()->index(index, 0));
    if (justBefore)
        justBefore();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
    QTRY_VERIFY(!view->isVisible());
}

WindowOnLine::WindowOnLine(ClockSetting *clock) : form(&port, &messages, clock) {}

#ifdef Q_OS_UNIX
bool WindowOnLine::plugIn()
{
    device = std::make_unique<PseudoTerminal>();
    nameDevice(device->path());
    return device->isValid();
}

void WindowOnLine::pull()
{
    device->hangUp();
    device->closeDeviceSide();
}

bool WindowOnLine::send(const QByteArray &bytes)
{
    return device->send(bytes);
}
#endif

bool WindowOnLine::portIsOpen()
{
    bool open = false;
    shared.portOpen(&open);
    return open;
}

QStringList WindowOnLine::labels() const
{
    QStringList texts;
    for (const QString &name : DisplayLabels)
        texts.append(control<QLabel>(name)->text());
    return texts;
}

QString WindowOnLine::receiveText() const
{
    return form.findChild<ReceiveWindow *>()->receiveText();
}

void WindowOnLine::pick(int index, const std::function<void()> &justBefore)
{
    pickEntry(control<QComboBox>(QStringLiteral("Combo1")), index, justBefore);
}
