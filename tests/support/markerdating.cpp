#include "tests/support/markerdating.h"

QList<std::chrono::microseconds> markerDatingErrors(SerialPort *port, PseudoTerminal *line,
                                                    int frames,
                                                    std::chrono::milliseconds busyPerPoll,
                                                    const QByteArray &noise,
                                                    std::chrono::milliseconds pause)
{
    using namespace std::chrono_literals;
    constexpr auto Period = 300ms; // between the starts of two frames
    constexpr auto Poll = 100ms;

    std::mutex mutex;
    QList<MonotonicTime> markersSent;
    std::atomic<bool> done{false};
    // Each character at its own place on the line's clock, as a line delivers them.
    std::thread device([&] {
        MonotonicTime next = MonotonicClock::now() + 50ms;
        const auto sendPaced = [&](const QByteArray &bytes, bool markFirst) {
            for (qsizetype c = 0; c < bytes.size(); ++c) {
                std::this_thread::sleep_until(next);
                if (markFirst && c == 0) {
                    const std::lock_guard<std::mutex> lock(mutex);
                    markersSent.append(MonotonicClock::now());
                }
                line->send(bytes.mid(c, 1));
                next += CharacterTime;
            }
        };
        for (int i = 0; i < frames; ++i) {
            const MonotonicTime frameSlot = next;
            sendPaced(noise, false);
            next += pause;
            sendPaced(QByteArrayLiteral("$12:00:") + QByteArray::number(10 + i)
                          + ",06/15/2007,5,1\r\n",
                      true);
            next = frameSlot + Period;
        }
        done = true;
    });

    FrameReceiver receiver{QString()};
    QList<MonotonicTime> arrivals;
    const MonotonicTime giveUp = MonotonicClock::now() + frames * Period + 2s;
    MonotonicTime nextPoll = MonotonicClock::now() + Poll;
    while (MonotonicClock::now() < giveUp) {
        // Busy: the thread neither sleeps nor handles events, as a window drawing would not.
        const MonotonicTime busyUntil = MonotonicClock::now() + busyPerPoll;
        while (MonotonicClock::now() < busyUntil) {
        }
        std::this_thread::sleep_until(nextPoll);
        nextPoll += Poll;
        QCoreApplication::processEvents();
        receiver.Tick(port);
        if (const std::optional<Frame> frame = receiver.TakenFrame())
            arrivals.append(frame->arrival);
        if (done && arrivals.size() >= frames)
            break;
    }
    device.join();

    QList<std::chrono::microseconds> errors;
    for (const MonotonicTime arrival : arrivals) {
        const auto nearest = std::min_element(
            markersSent.cbegin(), markersSent.cend(), [arrival](MonotonicTime a, MonotonicTime b) {
                return std::chrono::abs(arrival - a) < std::chrono::abs(arrival - b);
            });
        if (nearest != markersSent.cend())
            errors.append(
                std::chrono::duration_cast<std::chrono::microseconds>(arrival - *nearest));
    }
    return errors;
}
