#include "gui/Delegate0.h"

#include "gui/SignalBinding.h"

gulong Delegate0::connect(gpointer instance, const char *signal, Call call, bool after)
{
    return bind(instance, signal, call, false, after);
}

gulong Delegate0::connectTrue(gpointer instance, const char *signal, Call call, bool after)
{
    return bind(instance, signal, call, true, after);
}

gulong Delegate0::bind(gpointer instance, const char *signal, Call call, bool handled, bool after)
{
    return SignalBinding::connect(instance, signal, new Record{call, handled}, &Delegate0::marshal,
                                  &Delegate0::release, after);
}

void Delegate0::marshal(GClosure *closure, GValue *returnValue, guint, const GValue *, gpointer, gpointer)
{
    // The closure is held for the length of the call, so the record outlives a callable that
    // destroys the instance.
    const Record &record = *static_cast<Record *>(closure->data);
    SignalBinding::setHandled(returnValue, record.handled);
    record.call();
}

void Delegate0::release(gpointer record, GClosure *)
{
    delete static_cast<Record *>(record);
}
