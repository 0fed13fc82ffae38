#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "core/fixed_point.h"

class QFont;

namespace pulsaro {

class Dialogs;
class SettingsStore;
class TfrmPulsaro;

// Operations that several parts of the program run on the main window from
// outside its class, and the error reporting every handler goes through.
class TPrivataFunktioner {
public:
    TPrivataFunktioner(Dialogs& dialogs, SettingsStore& store);

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

    // The settings store as a whole.
    void SetFormPos(TfrmPulsaro& form);
    void GetRegistryData(TfrmPulsaro& form);
    void DeleteRegistrySettings(TfrmPulsaro& form);

    // The stored click sound: "sound", "sound1" or "sound2".
    QString GetMetronomeSound();

    // Result-file naming. NewFileName returns an empty text on failure.
    QString NewFileName(const QString& extension, int selector);
    QString GetDeskTopDir();
    QString ShortenFileName(const QString& path, const QFont& font) const;

    // Tests point the desktop somewhere else.
    void setDesktopLookup(std::function<std::string()> lookup) { desktop_ = std::move(lookup); }

    // The regional decimal separator of the default locale.
    static std::string decimalSeparator();
    // A text of the program's own making read back as fixed point.
    static Fixed readFixed(const QString& text);

    Dialogs& dialogs() { return dialogs_; }
    SettingsStore& store() { return store_; }

private:
    Dialogs& dialogs_;
    SettingsStore& store_;
    std::function<std::string()> desktop_;
};

}  // namespace pulsaro
