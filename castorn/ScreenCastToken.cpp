#include "castorn/ScreenCastToken.h"

#include "castorn/GstRef.h"

#include <glib.h>

#include <cstdlib>

namespace castorn {

namespace {

std::string StateFolder()
{
    // Read each time rather than through GLib, which keeps the first answer for the process.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && g_path_is_absolute(state)) return std::string(state) + "/publish_tavisk";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : g_get_home_dir()) + "/.local/state/publish_tavisk";
}

}  // namespace

std::string ScreenCastTokenPath()
{
    return StateFolder() + "/screencast-token";
}

std::string LoadScreenCastToken()
{
    gchar* contents = nullptr;
    if (!g_file_get_contents(ScreenCastTokenPath().c_str(), &contents, nullptr, nullptr)) return {};
    const GText owned(contents);
    std::string token = g_strstrip(contents);
    return token;
}

bool SaveScreenCastToken(const std::string& token)
{
    if (g_mkdir_with_parents(StateFolder().c_str(), 0700) != 0) return false;
    // Written beside and renamed over: a crash leaves the old token or the new one, whole.
    // The token lets its holder capture the screen without asking: the user's alone.
    return g_file_set_contents_full(ScreenCastTokenPath().c_str(), (token + '\n').c_str(), -1,
                                    G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace castorn
