// A pipeline's bus, watched on the engine loop's context for as long as this
// object lives.
#pragma once

#include <gst/gst.h>

#include <functional>

namespace castorn {

class BusWatch {
public:
    using Handler = std::function<void(GstMessage*)>;

    BusWatch(GstElement* pipeline, GMainContext* context, Handler handler);
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

private:
    static gboolean Dispatch(GstBus* bus, GstMessage* message, gpointer self);

    Handler m_handler;
    GSource* m_source;
};

}  // namespace castorn
