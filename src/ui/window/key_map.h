#pragma once

#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;

namespace pulsaro {

class MainWindow;

// Every key of the main window that is not a menu shortcut, and the menu
// shortcuts' way in: installed on the application, it sees each key once, at
// the control it is meant for, before that control does. The keys and what
// they do are listed by name in key_map.cpp.
class KeyMap final : public QObject {
public:
    explicit KeyMap(MainWindow& window);
    ~KeyMap() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A key at the focused control; true when the control must not see it.
    bool keyPress(const QKeyEvent& event);
    bool keyRelease(const QKeyEvent& event);
    // A key while the menu bar holds the keyboard (after Alt, or after a menu
    // closed): the bar keeps only the keys that move through it; any other key
    // gives the keyboard back and, unless it is ESC, acts there.
    bool menuBarKey(const QKeyEvent& event);
    void leaveMenuBar();

    // A key held down repeats, on X11 as a release and a press with one
    // timestamp when Qt cannot tell: such a press is a repeat as well.
    bool repeats(const QKeyEvent& event) const;

    MainWindow& window_;
    int lastReleasedKey_ = 0;
    quint64 lastReleaseTime_ = 0;
    // The control that had the keyboard before the menu bar took it.
    QPointer<QWidget> focusBeforeMenuBar_;
    QMetaObject::Connection focusWatch_;
};

}  // namespace pulsaro
