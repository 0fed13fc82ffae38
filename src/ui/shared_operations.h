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

    // Starts a program, or hands a document, URL or "mailto:" link to the
    // desktop; true when that was accepted.
    bool RunProgramEx(const QString& file, const QString& directory, const QString& parameters);

    // How documents and URLs reach the desktop; tests replace it.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }

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
