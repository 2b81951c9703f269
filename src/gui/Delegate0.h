#ifndef VELMORA_DELEGATE0_H
#define VELMORA_DELEGATE0_H

#include "gui/FastDelegate.h"

#include <glib-object.h>

/// Binds a toolkit signal to a callable that takes no argument, whatever values the signal
/// carries ("clicked", "activate", "destroy", "delete_event", ...).
///
/// The connection owns the binding; it goes when the handler is disconnected or the instance
/// is destroyed. Both connectors return the handler id (0 when `instance` has no such signal).
class Delegate0 {
public:
    using Call = fastdelegate::FastDelegate0<>;

    /// The handler leaves an event signal unhandled, so the toolkit's own handlers still run.
    static gulong connect(gpointer instance, const char *signal, Call call, bool after = false);
    /// As `connect`, but reports the event as handled (for "delete_event", where that keeps
    /// the window from being destroyed behind the callable's back).
    static gulong connectTrue(gpointer instance, const char *signal, Call call, bool after = false);

private:
    struct Record {
        Call call;
        bool handled;
    };
    static gulong bind(gpointer instance, const char *signal, Call call, bool handled, bool after);
    static void marshal(GClosure *closure, GValue *returnValue, guint count, const GValue *values,
                        gpointer hint, gpointer marshalData);
    static void release(gpointer record, GClosure *closure);
};

#endif
