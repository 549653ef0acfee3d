// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The operating-system services the viewer's file actions rely on, each behind a small interface
// so the model never talks to a desktop directly and another platform's implementation can sit
// beside the Linux one.

#include "applicationid.h"
#include "displayprofiles.h"
#include "imaging/filepath.h"
#include "windowactivation.h"

#include <QImage>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class QWindow;

namespace kivo {

// An application the desktop offers for a file.
struct ApplicationEntry {
    QString id;   // how the desktop names it (a .desktop entry id such as "gimp.desktop")
    QString name; // what the user reads
};

// Where a file moved to the Trash now is, so it can be put back.
struct TrashedFile {
    FilePath original; // where it was
    FilePath stored;   // the file itself, in the trash's files/ folder
    FilePath record;   // its .trashinfo record, in the trash's info/ folder
    // The file's identity in the trash, so a file of the same name trashed after ours was
    // emptied is never taken for it.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Moves files to the desktop's wastebasket, from where the user can restore them.
class Trash {
public:
    virtual ~Trash() = default;
    // Where the file went; otherwise the system's description of why it stayed where it was
    // (the file is then untouched).
    virtual std::variant<TrashedFile, QString> trash(const FilePath& file) = 0;
    // Puts a file this trash moved back where it was and removes its record. Nothing on success;
    // otherwise why it could not be done (it is no longer in the Trash, its folder is gone, a
    // file now has its name), and then nothing was overwritten.
    virtual std::optional<QString> restore(const TrashedFile& file) = 0;

    // trash() for a caller that will not put the file back.
    std::optional<QString> moveToTrash(const FilePath& file) {
        auto outcome = trash(file);
        if (auto* error = std::get_if<QString>(&outcome))
            return std::move(*error);
        return std::nullopt;
    }
};

// The clipboard, as far as the viewer writes pictures to it.
class ImageClipboard {
public:
    virtual ~ImageClipboard() = default;
    // Replaces whatever the clipboard held by exactly this picture.
    virtual void putImage(const QImage& image) = 0;
};

// The file manager.
class FileManager {
public:
    virtual ~FileManager() = default;
    // Opens a file-manager window with the file selected. Does not wait for it.
    virtual void showItem(const FilePath& file) = 0;
};

// The desktop's registry of applications and the launcher.
class ApplicationRegistry {
public:
    virtual ~ApplicationRegistry() = default;
    // This application's own id in the registry, empty when it has none.
    virtual QString ownApplicationId() const = 0;
    // The applications registered for the file's content type, in the desktop's order.
    virtual QList<ApplicationEntry> applicationsFor(const FilePath& file) const = 0;
    // Starts the application with the file; `application` is an id from applicationsFor or the
    // absolute path of an application entry. Failures are not reported.
    virtual void open(const FilePath& file, const QString& application) = 0;
};

// The desktop's "open with another application" chooser.
class ApplicationChooser {
public:
    virtual ~ApplicationChooser() = default;
    // Lets the user pick an application for the file. A desktop chooser may open the file
    // itself; otherwise `chosen` is called later with the picked application (for
    // ApplicationRegistry::open). Cancelling calls nothing.
    virtual void choose(const FilePath& file, QWindow* parent,
                        std::function<void(const QString& application)> chosen) = 0;
};

// The services of one desktop, handed to each AppState. Any of them may be absent, and the
// matching action then does nothing.
class DesktopServices {
public:
    std::unique_ptr<Trash> trash;
    std::unique_ptr<ImageClipboard> clipboard;
    std::unique_ptr<FileManager> fileManager;
    std::unique_ptr<ApplicationRegistry> applications;
    std::unique_ptr<ApplicationChooser> applicationChooser;
    std::unique_ptr<DisplayProfiles> displayProfiles;
    std::unique_ptr<WindowActivation> activation;

    // The services of the desktop this process runs on. `ownApplicationId` is this
    // application's entry in the desktop's registry, so Open With leaves it out.
    static std::unique_ptr<DesktopServices>
    createForThisDesktop(const QString& ownApplicationId = QString::fromLatin1(applicationId) +
                                                           QStringLiteral(".desktop"));
};

// The file:// URI of a path, built from its bytes so names that are not UTF-8 survive.
QString fileUri(const FilePath& file);

} // namespace kivo
