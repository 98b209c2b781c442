#include "castorn/PortalScreenCast.h"

#include "castorn/GstRef.h"
#include "castorn/ScreenCastToken.h"

#include <gio/gunixfdlist.h>

#include <algorithm>

namespace castorn {

namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalObject[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kSession[] = "org.freedesktop.portal.Session";
constexpr guint32 kMonitor = 1;
constexpr guint32 kCursorEmbedded = 2;
constexpr guint32 kPersistUntilRevoked = 2;
constexpr guint32 kPersistSince = 4;  // the interface version that keeps tokens
constexpr guint32 kAnswered = 0;
constexpr guint32 kCancelled = 1;

gint Milliseconds(std::chrono::seconds limit)
{
    return static_cast<gint>(std::chrono::milliseconds(limit).count());
}

std::string Text(GError* error)
{
    std::string text = error ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

// A request's object path is made of the caller's bus name and a token of its choice.
std::string RequestPath(GDBusConnection* connection, const std::string& token)
{
    std::string sender = g_dbus_connection_get_unique_name(connection) + 1;
    std::replace(sender.begin(), sender.end(), '.', '_');
    return std::string(kPortalObject) + "/request/" + sender + "/" + token;
}

struct Waiting {
    GMainLoop* loop;
    guint32 code = kCancelled;
    GVariant* results = nullptr;
    bool answered = false;
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data)
{
    auto* waiting = static_cast<Waiting*>(data);
    if (waiting->answered) return;
    g_variant_get(parameters, "(u@a{sv})", &waiting->code, &waiting->results);
    waiting->answered = true;
    g_main_loop_quit(waiting->loop);
}

}  // namespace

struct PortalScreenCast::Reply {
    guint32 code = kCancelled;
    GVariant* results = nullptr;
    ~Reply()
    {
        if (results) g_variant_unref(results);
    }
};

struct PortalScreenCast::ClosedWatch {
    std::string session;
    std::function<void()> onClosed;

    // On the connection's own thread, for every message.
    static GDBusMessage* Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer data)
    {
        const auto* watch = static_cast<ClosedWatch*>(data);
        if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_SIGNAL &&
            g_strcmp0(g_dbus_message_get_interface(message), kSession) == 0 &&
            g_strcmp0(g_dbus_message_get_member(message), "Closed") == 0 &&
            watch->session == g_dbus_message_get_path(message))
            watch->onClosed();
        return message;
    }
};

PortalScreenCast::PortalScreenCast() = default;

PortalScreenCast::~PortalScreenCast()
{
    if (!m_connection) return;
    if (m_closedFilter) g_dbus_connection_remove_filter(m_connection, m_closedFilter);
    // The desktop ends the cast of a caller that leaves the bus.
    g_dbus_connection_close_sync(m_connection, nullptr, nullptr);
    g_object_unref(m_connection);
}

bool PortalScreenCast::Connect()
{
    GError* error = nullptr;
    const GText address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (address)
        m_connection = g_dbus_connection_new_for_address_sync(
            address.get(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
    if (!m_connection) m_error = "no session bus: " + Text(error);
    return m_connection != nullptr;
}

GVariant* PortalScreenCast::Property(const char* name)
{
    GVariant* reply =
        g_dbus_connection_call_sync(m_connection, kPortal, kPortalObject, "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", kScreenCast, name), G_VARIANT_TYPE("(v)"),
                                    G_DBUS_CALL_FLAGS_NONE, Milliseconds(kAnswerLimit), nullptr, nullptr);
    if (!reply) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    g_variant_unref(reply);
    return value;
}

bool PortalScreenCast::Request(const char* method, GVariant* leading, GVariantBuilder* options,
                               std::chrono::seconds limit, Reply& reply)
{
    const std::string token = "castorn" + std::to_string(++m_requests);
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariantBuilder parameters;
    g_variant_builder_init(&parameters, G_VARIANT_TYPE_TUPLE);
    if (leading) {
        GVariantIter children;
        g_variant_iter_init(&children, g_variant_ref_sink(leading));
        while (GVariant* child = g_variant_iter_next_value(&children)) g_variant_builder_add_value(&parameters, child);
        g_variant_unref(leading);
    }
    g_variant_builder_add_value(&parameters, g_variant_builder_end(options));

    // The answer comes as a signal, on a main context of this call's own.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    Waiting waiting{g_main_loop_new(context, FALSE)};
    const guint subscription = g_dbus_connection_signal_subscribe(
        m_connection, nullptr, "org.freedesktop.portal.Request", "Response", RequestPath(m_connection, token).c_str(),
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, &waiting, nullptr);
    GError* error = nullptr;
    GVariant* handle = g_dbus_connection_call_sync(m_connection, kPortal, kPortalObject, kScreenCast, method,
                                                   g_variant_builder_end(&parameters), G_VARIANT_TYPE("(o)"),
                                                   G_DBUS_CALL_FLAGS_NONE, Milliseconds(kAnswerLimit), nullptr, &error);
    if (handle) {
        g_variant_unref(handle);
        GSource* timeout = g_timeout_source_new_seconds(static_cast<guint>(limit.count()));
        g_source_set_callback(
            timeout, [](gpointer loop) { return g_main_loop_quit(static_cast<GMainLoop*>(loop)), G_SOURCE_REMOVE; },
            waiting.loop, nullptr);
        g_source_attach(timeout, context);
        if (!waiting.answered) g_main_loop_run(waiting.loop);
        g_source_destroy(timeout);
        g_source_unref(timeout);
    }
    g_dbus_connection_signal_unsubscribe(m_connection, subscription);
    g_main_loop_unref(waiting.loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    if (!handle) {
        m_error = std::string("the desktop's screen cast portal: ") + Text(error);
        return false;
    }
    if (!waiting.answered) {
        m_error = std::string("the desktop's screen cast portal did not answer ") + method;
        return false;
    }
    reply.code = waiting.code;
    reply.results = waiting.results;
    return true;
}

PortalScreenCast::Outcome PortalScreenCast::Start(std::function<void()> onClosed)
{
    if (!Connect()) return Outcome::Failed;
    guint32 version = 0;
    guint32 cursorModes = 0;
    if (GVariant* value = Property("version")) version = g_variant_get_uint32(value), g_variant_unref(value);
    if (GVariant* value = Property("AvailableCursorModes"))
        cursorModes = g_variant_get_uint32(value), g_variant_unref(value);
    if (version == 0) {
        m_error = "the desktop offers no screen cast portal";
        return Outcome::Failed;
    }

    // Each step answers 0 when done, 1 when the user said no, 2 for anything else.
    const auto failed = [this](const Reply& reply, const char* step) {
        if (reply.code == kAnswered) return false;
        m_error =
            std::string("the desktop's screen cast portal answered ") + std::to_string(reply.code) + " to " + step;
        return true;
    };
    const auto outcome = [](const Reply& reply) {
        return reply.code == kCancelled ? Outcome::Refused : Outcome::Failed;
    };

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string("castorn"));
    Reply created;
    if (!Request("CreateSession", nullptr, &options, kAnswerLimit, created)) return Outcome::Failed;
    if (failed(created, "CreateSession")) return outcome(created);
    const gchar* session = nullptr;
    if (!g_variant_lookup(created.results, "session_handle", "&s", &session)) {
        m_error = "the desktop's screen cast portal gave no session";
        return Outcome::Failed;
    }
    m_session = session;
    m_closedFilter = g_dbus_connection_add_filter(m_connection, &ClosedWatch::Filter,
                                                  new ClosedWatch{m_session, std::move(onClosed)},
                                                  [](gpointer watch) { delete static_cast<ClosedWatch*>(watch); });

    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kMonitor));
    g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
    if (cursorModes & kCursorEmbedded)
        g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorEmbedded));
    if (version >= kPersistSince) {
        g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
        if (const std::string token = LoadScreenCastToken(); !token.empty())
            g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(token.c_str()));
    }
    Reply selected;
    if (!Request("SelectSources", g_variant_new("(o)", session), &options, kAnswerLimit, selected))
        return Outcome::Failed;
    if (failed(selected, "SelectSources")) return outcome(selected);

    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    Reply started;
    if (!Request("Start", g_variant_new("(os)", session, ""), &options, kChooserLimit, started)) return Outcome::Failed;
    if (failed(started, "Start")) return outcome(started);
    if (const gchar* token = nullptr; g_variant_lookup(started.results, "restore_token", "&s", &token))
        SaveScreenCastToken(token);
    GVariant* streams = g_variant_lookup_value(started.results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
    const bool any = streams && g_variant_n_children(streams) > 0;
    if (any) g_variant_get_child(streams, 0, "(u@a{sv})", &m_node, nullptr);
    if (streams) g_variant_unref(streams);
    if (!any) {
        m_error = "the desktop's screen cast gave no stream";
        return Outcome::Failed;
    }
    return Outcome::Started;
}

int PortalScreenCast::OpenPipeWireRemote()
{
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    GUnixFDList* descriptors = nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        m_connection, kPortal, kPortalObject, kScreenCast, "OpenPipeWireRemote",
        g_variant_new("(oa{sv})", m_session.c_str(), &options), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
        Milliseconds(kAnswerLimit), nullptr, &descriptors, nullptr, &error);
    int fd = -1;
    if (reply) {
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        fd = descriptors ? g_unix_fd_list_get(descriptors, index, &error) : -1;
    }
    if (descriptors) g_object_unref(descriptors);
    if (fd < 0) m_error = "the desktop gave no PipeWire connection: " + Text(error);
    return fd;
}

}  // namespace castorn
