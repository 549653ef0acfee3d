// SPDX-License-Identifier: GPL-3.0-or-later
#include "gioapplications.h"

#include <QFile>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <memory>

namespace kivo {

namespace {

struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

struct GFreeRelease {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeRelease>;

QString fromUtf8(const char* text) {
    return text ? QString::fromUtf8(text) : QString();
}

GObjectPtr<GFile> gioFile(const FilePath& file) {
    return GObjectPtr<GFile>(g_file_new_for_path(file.c_str()));
}

// The file's MIME type the way the desktop decides it: from the name and, where the name is
// not conclusive, the first bytes of the content.
GCharPtr contentTypeOf(const FilePath& file) {
    const auto gfile = gioFile(file);
    GObjectPtr<GFileInfo> info(g_file_query_info(gfile.get(),
                                                 G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                 G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (info && g_file_info_get_content_type(info.get()))
        return GCharPtr(g_strdup(g_file_info_get_content_type(info.get())));
    // A file that cannot be read still has a name to go by.
    return GCharPtr(g_content_type_guess(file.filename().c_str(), nullptr, 0, nullptr));
}

GObjectPtr<GAppInfo> applicationInfo(const QString& application) {
    GDesktopAppInfo* info =
        application.startsWith(QLatin1Char('/'))
            ? g_desktop_app_info_new_from_filename(QFile::encodeName(application).constData())
            : g_desktop_app_info_new(application.toUtf8().constData());
    return GObjectPtr<GAppInfo>(reinterpret_cast<GAppInfo*>(info));
}

} // namespace

GioApplicationRegistry::GioApplicationRegistry(QString ownApplicationId)
    : ownId_(std::move(ownApplicationId)) {}

QList<ApplicationEntry> GioApplicationRegistry::applicationsFor(const FilePath& file) const {
    const GCharPtr type = contentTypeOf(file);
    if (!type)
        return {};
    QList<ApplicationEntry> entries;
    GList* all = g_app_info_get_all_for_type(type.get());
    for (GList* item = all; item; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        entries.push_back(
            {fromUtf8(g_app_info_get_id(info)), fromUtf8(g_app_info_get_display_name(info))});
    }
    g_list_free_full(all, g_object_unref);
    return entries;
}

void GioApplicationRegistry::open(const FilePath& file, const QString& application) {
    const auto info = applicationInfo(application);
    if (!info)
        return;
    const auto gfile = gioFile(file);
    GList files{};
    files.data = gfile.get();
    GError* error = nullptr;
    // Launched as a separate process the desktop way (field codes, terminal, working folder);
    // whether the application then manages to open the file is its own business.
    g_app_info_launch(info.get(), &files, nullptr, &error);
    if (error)
        g_error_free(error);
}

} // namespace kivo
