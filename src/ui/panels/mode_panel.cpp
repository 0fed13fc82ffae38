#include "ui/panels/mode_panel.h"

#include <QLabel>

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/panels/widgets.h"

namespace pulsaro {

const QColor ModePanel::kNavy(0, 0, 128);

ModePanel::ModePanel(QWidget* parent, const char* name, const char* headingName,
                     const char* heading, QRect headingPlace)
    : QFrame(parent) {
    setObjectName(QString::fromLatin1(name));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    resize(209, 109);
    setVisible(false);

    // Yellow bold heading on navy across the top.
    QLabel* title =
        makeLabel(this, headingName, tr8(heading), headingPlace, 10, true, QColor(255, 255, 0));
    title->setAlignment(Qt::AlignCenter);
    title->setAutoFillBackground(true);
    QPalette palette = title->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 128));
    title->setPalette(palette);
}

QLabel* ModePanel::addStatus(const char* name) {
    status_ =
        makeLabel(this, name, tr8(res::kDesignStatus), QRect(9, 90, 64, 15), 9, true, Qt::red);
    return status_;
}

QLabel* ModePanel::addTooFast(const char* name) {
    tooFast_ = makeLabel(this, name, tr8(res::kTooFast), QRect(136, 90, 66, 15), 9, true, Qt::red);
    tooFast_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tooFast_->setVisible(false);
    return tooFast_;
}

void ModePanel::setStatus(RunStatus status) {
    switch (status) {
        case RunStatus::Idle:
            status_->setText(tr8(res::kOff));
            break;
        case RunStatus::Measuring:
            status_->setText(tr8(res::kOn));
            break;
        case RunStatus::TimedOut:
            status_->setText(tr8(res::kTimeout));
            break;
    }
}

void ModePanel::setTooFast(bool shown) {
    tooFast_->setVisible(shown);
}

QLabel* ModePanel::addNote(const char* name, const char* text, int left) {
    QLabel* note = makeLabel(this, name, tr8(text), QRect(left, 90, 70, 15), 9, true, Qt::red);
    note->setVisible(false);
    return note;
}

}  // namespace pulsaro
