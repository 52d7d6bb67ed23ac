#include "ui/DesktopActions.h"

#include <gio/gio.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <memory>

namespace
{
const char* const kFileManagerName = "org.freedesktop.FileManager1";
const char* const kFileManagerPath = "/org/freedesktop/FileManager1";
const char* const kFileManagerInterface = "org.freedesktop.FileManager1";
const char* const kShowItems = "ShowItems";
// A file manager that is started for the call may take a while; the folder is opened
// instead when it has not answered by then.
constexpr int kShowItemsTimeoutMs = 10000;

bool OpenFolderOf(const wxString& path)
{
    return DesktopActions::OpenFile(wxFileName(path).GetPath());
}

void OnShowItemsAnswered(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<wxString> path(static_cast<wxString*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply)
    {
        g_variant_unref(reply);
        return;
    }
    g_error_free(error);
    OpenFolderOf(*path);
}
} // namespace

bool DesktopActions::OpenFile(const wxString& path)
{
    if (wxLaunchDefaultApplication(path))
        return true;
    wxMessageBox(wxString::Format(_("Cannot open \"%s\"."), path));
    return false;
}

void DesktopActions::ShowInFolder(const wxString& path)
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    const wxScopedCharBuffer narrow = path.fn_str();
    gchar* uri = narrow.length() > 0 ? g_filename_to_uri(narrow.data(), nullptr, nullptr) : nullptr;
    if (!bus || !uri)
    {
        if (bus)
            g_object_unref(bus);
        g_free(uri);
        OpenFolderOf(path);
        return;
    }
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&items, "s", uri);
    // The second argument is a start-up notification id, which a program without one leaves
    // empty.
    g_dbus_connection_call(bus, kFileManagerName, kFileManagerPath, kFileManagerInterface,
                           kShowItems, g_variant_new("(ass)", &items, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, kShowItemsTimeoutMs, nullptr,
                           &OnShowItemsAnswered, new wxString(path));
    g_free(uri);
    // The pending call holds the connection as long as it needs it.
    g_object_unref(bus);
}
