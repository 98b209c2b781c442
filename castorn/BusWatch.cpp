#include "castorn/BusWatch.h"

#include "castorn/GstRef.h"

namespace castorn {

BusWatch::BusWatch(GstElement* pipeline, GMainContext* context, Handler handler) : m_handler(std::move(handler))
{
    const BusRef bus(gst_element_get_bus(pipeline));
    m_source = gst_bus_create_watch(bus.get());
    g_source_set_callback(m_source, G_SOURCE_FUNC(&BusWatch::Dispatch), this, nullptr);
    g_source_attach(m_source, context);
}

BusWatch::~BusWatch()
{
    g_source_destroy(m_source);
    g_source_unref(m_source);
}

gboolean BusWatch::Dispatch(GstBus*, GstMessage* message, gpointer self)
{
    static_cast<BusWatch*>(self)->m_handler(message);
    return G_SOURCE_CONTINUE;
}

}  // namespace castorn
