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
class TickTimer;
class MainWindow;
class SavePanel;

// What the windows use from outside themselves: the dialogs, the settings
// store, the failure guard every handler runs in, and the desktop (programs,
// web pages, the desktop folder, window opacity) with the result-file names
// made there. Tests replace the desktop parts.
class AppServices {
public:
    AppServices(Dialogs& dialogs, SettingsStore& store);
    ~AppServices();

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

    // Whether windows can be made translucent here; tests switch it.
    bool opacityAvailable() const { return opacityAvailable_(); }
    void setOpacityAvailable(std::function<bool()> test) { opacityAvailable_ = std::move(test); }

    // Starts a program, or hands a document, URL or "mailto:" link to the
    // desktop; true when that was accepted.
    bool RunProgramEx(const QString& file, const QString& directory, const QString& parameters);

    // How documents and URLs reach the desktop; tests replace it.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }

    // Result-file naming. NewFileName returns an empty text on failure.
    QString NewFileName(const QString& extension, int selector);
    QString GetDeskTopDir();
    QString ShortenFileName(const QString& path, const QFont& font, int maxWidth = 400) const;

    // Tests point the desktop somewhere else.
    void setDesktopLookup(std::function<std::string()> lookup) { desktop_ = std::move(lookup); }

    Dialogs& dialogs() { return dialogs_; }
    SettingsStore& store() { return store_; }

private:
    Dialogs& dialogs_;
    SettingsStore& store_;
    std::function<std::string()> desktop_;
    std::function<bool()> opacityAvailable_;
    std::function<bool(const QUrl&)> openUrl_;
};

}  // namespace pulsaro
