#pragma once

#include <QKeyEvent>
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
        QWidget* focus = form_.focusWidget();
        QWidget* target = focus != nullptr ? focus : &form_;
        if (widget != target) {
            return false;
        }
        return form_.previewKey(static_cast<const QKeyEvent&>(*event));
    }

private:
    TfrmPulsaro& form_;
};

}  // namespace pulsaro
