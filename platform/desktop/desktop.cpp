#include "platform/desktop/desktop.h"

#include <gio/gio.h>

namespace desktop {

std::string defaultHtmlCommandLine() {
    GAppInfo* app = g_app_info_get_default_for_type("text/html", FALSE);
    if (!app)
        return {};
    const char* command = g_app_info_get_commandline(app);
    std::string result = command ? command : "";
    g_object_unref(app);
    return result;
}

bool openUri(const std::string& uri) {
    if (uri.empty())
        return false;
    GError* error = nullptr;
    const gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
    if (error)
        g_error_free(error);
    return ok;
}

} // namespace desktop
