#include "ui/widgets.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionMenuItem>

#include "platform/fonts.h"

namespace pulsaro {

QFont windowFont(int points, bool bold) {
    QFont font(loadWindowFontFamily());
    font.setPixelSize((points * 96 + 36) / 72);
    font.setBold(bold);
    // Full hinting snaps every glyph advance to whole pixels, which leaves
    // uneven gaps in emboldened text; vertical hinting keeps the strokes
    // crisp and the spacing even.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place, int points,
                  bool bold, QColor color) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(windowFont(points, bold));
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    if (place.width() <= 0) {
        place.setWidth(QFontMetrics(label->font()).horizontalAdvance(text) + 2);
    }
    if (place.height() <= 0) {
        place.setHeight(QFontMetrics(label->font()).height());
    }
    label->setGeometry(place);
    // Labels keep their clicks; they never reach the panel behind them.
    label->setAttribute(Qt::WA_NoMousePropagation);
    return label;
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

QValidator::State TempoTextValidator::validate(QString& input, int&) const {
    for (const QChar c : input) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && c != QLatin1Char('.') && c != QLatin1Char(',')) {
            return Invalid;
        }
    }
    return Acceptable;
}

void MenuBarStyle::drawControl(ControlElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuBarItem && item != nullptr && widget != nullptr && widget->hasFocus() &&
        item->state.testFlag(State_Selected)) {
        QStyleOptionMenuItem highlighted(*item);
        highlighted.state |= State_Sunken;
        QProxyStyle::drawControl(element, &highlighted, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void PictureStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor(0, 0, 128));
    background.setColorAt(1, QColor(0, 0, 40));
    painter.fillRect(rect(), background);

    // A row of beat pulses of rising height.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 215, 0));
    for (int i = 0; i < 4; ++i) {
        const int barHeight = 6 + 5 * i;
        painter.drawRoundedRect(QRectF(4 + 7 * i, 40 - barHeight, 5, barHeight), 1.5, 1.5);
    }

    painter.setPen(QColor(255, 255, 0));
    painter.setFont(windowFont(14, true));
    painter.translate(width() / 2.0 + 6, height() - 8);
    painter.rotate(-90);
    painter.drawText(0, 0, QStringLiteral("PULSARO"));
}

}  // namespace pulsaro
