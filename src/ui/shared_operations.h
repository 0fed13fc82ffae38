#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/fixed_point.h"
#include "core/result_file.h"

class QFont;
class QUrl;
class QMenu;
class QWidget;

namespace pulsaro {

class Dialogs;
class SettingsStore;
class RegistryKey;
class TTickTimer;
class MainWindow;
class SavePanel;

// Operations that several parts of the program run on the main window from
// outside its class, and the error reporting every handler goes through.
class SharedOperations {
public:
    SharedOperations(Dialogs& dialogs, SettingsStore& store);
    ~SharedOperations();

    // Shows "Error in <name>" in a modal box, with the cause (the file and the
    // system's reason, where known) below it; with quit, ends the event loop
    // afterwards. Never lets a failure escape.
    void ErrorHandler(const QString& name, bool quit, const QString& cause = {}) noexcept;

    // Runs body; a failure of any kind is reported under name and the caller
    // goes on. Returns whether body finished.
    template <class Body>
    bool guard(const char* name, Body&& body) noexcept {
        try {
            std::forward<Body>(body)();
            return true;
        } catch (const std::exception& failure) {
            ErrorHandler(QString::fromUtf8(name), false, QString::fromUtf8(failure.what()));
            return false;
        } catch (...) {
            ErrorHandler(QString::fromUtf8(name), false);
            return false;
        }
    }

    bool IsNumeric(const QString& text) const;
    QString CalcPitch(int percent, Fixed tempo);
    QString SpecRoundedBPMValue(Fixed tempo);

    // The settings store as a whole.
    void SetFormPos(MainWindow& form);
    void GetRegistryData(MainWindow& form);
    void DeleteRegistrySettings(MainWindow& form);

    // Opacity in per cent on a window (100: opaque); false when the platform
    // has no per-window opacity.
    bool MakeWindowTransparent(QWidget& window, int percent);
    // Whether windows can be made translucent here; tests switch it.
    bool opacityAvailable() const { return opacityAvailable_(); }
    void setOpacityAvailable(std::function<bool()> test) { opacityAvailable_ = std::move(test); }

    // Player shortcuts. The display name is the file name without its last
    // extension, empty when the file does not exist, cut to 50 characters.
    static QString PlayerDisplayName(const QString& path);
    // Gives the three player items of the View menu the icons of the programs.
    void PutPlayerIcons(MainWindow& form, const QString& one, const QString& two,
                        const QString& three);
    // Starts a program, or hands a document, URL or "mailto:" link to the
    // desktop; true when that was accepted.
    bool RunProgramEx(const QString& file, const QString& directory, const QString& parameters);

    // "Version 6.5 (build 2968)" of the program (false and empty without one).
    static bool GetFileVersionText(const QString& file, QString& text);
    // The credit line with the build date in the user's short date format.
    QString SetVersionInfo();
    // "mailto:<author>?subject=Pulsaro (<version text>)", not percent-encoded.
    QString mailUri();
    // The About box's text.
    QString aboutText();
    // How documents and URLs reach the desktop; tests replace it.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }

    // The stored click sound: "sound", "sound1" or "sound2".
    QString GetMetronomeSound();

    // Saving and copying. SaveToFile reports a failed write itself and says
    // whether the record was written; either way the "Saving..." labels are
    // hidden a second later.
    char GetFileDelimiter();
    bool SaveToFile(MainWindow& form, const QString& fileName, const Record& record,
                    char delimiter);
    void CopyTextToClipboard(const QString& text);
    // The locked artist and album names kept in the settings (each left as
    // it is when none is kept).
    void readLockedNames(QString& artist, QString& album);
    // Keeps the locked names of the panel and forgets the others.
    void storeLockedNames(const SavePanel& panel);
    // The same inside a batch of an open key.
    static void storeLockedNames(RegistryKey& key, const SavePanel& panel);

    // Result-file naming. NewFileName returns an empty text on failure.
    QString NewFileName(const QString& extension, int selector);
    QString GetDeskTopDir();
    QString ShortenFileName(const QString& path, const QFont& font, int maxWidth = 400) const;

    // Tests point the desktop somewhere else.
    void setDesktopLookup(std::function<std::string()> lookup) { desktop_ = std::move(lookup); }

    // The regional decimal separator of the default locale.
    static std::string decimalSeparator();
    // A text of the program's own making read back as fixed point.
    static Fixed readFixed(const QString& text);

    // The one-shot timers that hide the "Saving..." labels, newest last.
    const std::vector<std::unique_ptr<TTickTimer>>& savingTimers() const { return savingTimers_; }

    Dialogs& dialogs() { return dialogs_; }
    SettingsStore& store() { return store_; }

private:
    Dialogs& dialogs_;
    SettingsStore& store_;
    std::function<std::string()> desktop_;
    std::vector<std::unique_ptr<TTickTimer>> savingTimers_;
    std::function<bool()> opacityAvailable_;
    std::function<bool(const QUrl&)> openUrl_;
};

}  // namespace pulsaro
