#ifndef VELMORA_SIGNALBINDING_H
#define VELMORA_SIGNALBINDING_H

#include <glib-object.h>

/// The common ground of the signal binders (`Delegate0`, `Delegate1`, `Delegate2`,
/// `Delegate2Int`): it attaches a binding record to a toolkit signal through a closure whose
/// marshaller sees the signal's values as a counted, typed array, so each binder adapts to
/// the signal's arity without guessing from the stack.
///
/// The connection owns the record: `release` runs exactly once, when the handler is
/// disconnected, when the instance is destroyed or finalised, or at once when the
/// connection cannot be made.
class SignalBinding {
public:
    /// Connects `signal` (detailed names such as "notify::label" are accepted) of the GObject
    /// `instance` to `marshal`, which receives `record` as the closure's data. Runs after the
    /// default handler when `after` is set. Returns the handler id, or 0 after printing
    /// "SLOT: no signal %s on %s\n" when the instance has no such signal (the record is then
    /// released before returning).
    static gulong connect(gpointer instance, const char *signal, gpointer record, GClosureMarshal marshal,
                          GClosureNotify release, bool after);

    /// Reports to an event signal whether its handler took care of the event; does nothing
    /// for signals without a boolean result.
    static void setHandled(GValue *returnValue, bool handled);

    /// The message printed when a two-value binder is reached by a signal with more values
    /// than it can take.
    static void reportArityError(int expected);
};

#endif
