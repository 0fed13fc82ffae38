#pragma once

#include <QString>

class QWidget;

namespace pulsaro {

// Every modal the windows open goes through here, so tests can answer them
// from a script instead of blocking on a real dialog.
class Dialogs {
public:
    enum class Icon { Information, Warning, Error, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Dialogs() = default;

    virtual Answer messageBox(QWidget* parent, const QString& caption, const QString& text,
                              Icon icon, Buttons buttons) = 0;
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                                 const QString& filter) = 0;
};

// The real dialogs of the toolkit.
class QtDialogs final : public Dialogs {
public:
    Answer messageBox(QWidget* parent, const QString& caption, const QString& text, Icon icon,
                      Buttons buttons) override;
    QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& folder,
                         const QString& filter) override;
};

}  // namespace pulsaro
