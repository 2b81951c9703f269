#include "gui/SignalBinding.h"

#include "math/Messages.h"

gulong SignalBinding::connect(gpointer instance, const char *signal, gpointer record, GClosureMarshal marshal,
                              GClosureNotify release, bool after)
{
    guint id = 0;
    GQuark detail = 0;
    if (!instance || !signal || !G_IS_OBJECT(instance) ||
        !g_signal_parse_name(signal, G_OBJECT_TYPE(instance), &id, &detail, TRUE)) {
        msg::error("SLOT: no signal %s on %s\n", signal ? signal : "(null)",
                   instance && G_IS_OBJECT(instance) ? G_OBJECT_TYPE_NAME(instance) : "(no object)");
        release(record, nullptr);
        return 0;
    }
    GClosure *closure = g_closure_new_simple(sizeof(GClosure), record);
    g_closure_set_marshal(closure, marshal);
    g_closure_add_finalize_notifier(closure, record, release);
    // The signal takes its own reference; the closure (and with it the record) goes away with
    // the connection.
    return g_signal_connect_closure_by_id(instance, id, detail, closure, after);
}

void SignalBinding::setHandled(GValue *returnValue, bool handled)
{
    if (returnValue && G_VALUE_HOLDS_BOOLEAN(returnValue))
        g_value_set_boolean(returnValue, handled);
}

void SignalBinding::reportArityError(int expected)
{
    msg::error("SLOT: error in callback with %d arguments\n", expected);
}
