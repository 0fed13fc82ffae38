#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <cstdint>

namespace pulsaro {

// The main window's private messages, as event types with fixed numbers that
// other parts of the program rely on. Sent = QCoreApplication::sendEvent
// (handled at once), posted = postEvent (handled after the caller returns).
enum class WindowMessage : int {
    SET_CHECK_MINIMZED = 9016,
    SET_OPACITY = 10016,
    METROSOUND_CHANGED = 10966,
    SET_PLAYER_NAME = 10986,
    MINIMIZE_TO_TRAY = 10996,
    ACTIVATE_AND_FOCUS = 11006,
    BEAT_ACTIVATE_AND_FOCUS = 11016,
};

// A private message with its two parameter words.
class WindowMessageEvent final : public QEvent {
public:
    explicit WindowMessageEvent(WindowMessage message, std::intptr_t first = 0,
                                std::intptr_t second = 0)
        : QEvent(static_cast<QEvent::Type>(message)), first_(first), second_(second) {}

    WindowMessage message() const { return static_cast<WindowMessage>(type()); }
    std::intptr_t first() const { return first_; }
    std::intptr_t second() const { return second_; }

private:
    std::intptr_t first_;
    std::intptr_t second_;
};

// Sends a private message: handled before this returns.
inline void sendMessage(QObject& receiver, WindowMessage message, std::intptr_t first = 0,
                        std::intptr_t second = 0) {
    WindowMessageEvent event(message, first, second);
    QCoreApplication::sendEvent(&receiver, &event);
}

}  // namespace pulsaro
