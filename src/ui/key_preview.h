#pragma once

#include <QKeyEvent>
#include <QMenuBar>
#include <QObject>
#include <QWidget>

#include "ui/main_window.h"

namespace pulsaro {

// Sees every key before the focused control does: installed on the
// application, it takes each key event once, at the control it is meant for.
class TfrmPulsaro::KeyPreview final : public QObject {
public:
    explicit KeyPreview(TfrmPulsaro& form) : form_(form) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() != &form_) {
            return false;
        }
        const auto& key = static_cast<const QKeyEvent&>(*event);
        if (widget == static_cast<QWidget*>(form_.menuBar())) {
            // Keys reach the bar only while it holds the keyboard (after Alt,
            // or after a menu closed).
            return form_.menuBarKey(key);
        }
        QWidget* focus = form_.focusWidget();
        QWidget* target = focus != nullptr ? focus : &form_;
        if (widget != target) {
            return false;
        }
        return form_.previewKey(key);
    }

private:
    TfrmPulsaro& form_;
};

}  // namespace pulsaro
