#pragma once

#include <QString>
#include <exception>
#include <string>
#include <utility>

#include "core/fixed_point.h"

namespace pulsaro {

class Dialogs;
class TfrmPulsaro;

// Operations that several parts of the program run on the main window from
// outside its class, and the error reporting every handler goes through.
class TPrivataFunktioner {
public:
    explicit TPrivataFunktioner(Dialogs& dialogs) : dialogs_(dialogs) {}

    // Shows "Error in <name>" in a modal box; with quit, ends the event loop
    // afterwards. Never lets a failure escape.
    void ErrorHandler(const QString& name, bool quit) noexcept;

    // Runs body; a failure of any kind is reported under name and the caller
    // goes on. Returns whether body finished.
    template <class Body>
    bool guard(const char* name, Body&& body) noexcept {
        try {
            std::forward<Body>(body)();
            return true;
        } catch (...) {
            ErrorHandler(QString::fromUtf8(name), false);
            return false;
        }
    }

    void ResetControls(TfrmPulsaro& form);
    void MakePanelVisible(TfrmPulsaro& form, const QString& panel);
    void ArrangePanels(TfrmPulsaro& form);

    bool IsNumeric(const QString& text) const;
    QString CalcPitch(int percent, Fixed tempo);
    QString SpecRoundedBPMValue(Fixed tempo);
    void CalculateMPM(TfrmPulsaro& form, Fixed tempo);
    void CalculateDelayTime(TfrmPulsaro& form, int kind, Fixed tempo);

    // The regional decimal separator of the default locale.
    static std::string decimalSeparator();
    // A text of the program's own making read back as fixed point.
    static Fixed readFixed(const QString& text);

    Dialogs& dialogs() { return dialogs_; }

private:
    Dialogs& dialogs_;
};

}  // namespace pulsaro
