#ifndef VELMORA_DELEGATE1_H
#define VELMORA_DELEGATE1_H

#include "gui/FastDelegate.h"
#include "gui/SignalBinding.h"
#include "gui/SignalValue.h"

/// Binds a toolkit signal to a callable of one argument of type T.
///
/// `connect` hands over the signal's first value (the emitting widget, for a `GtkWidget *`
/// argument), or the stored value when that value cannot be read as a T. `connectObject`
/// always hands over the stored value (a menu key, a flag, the other widget of a pair). A
/// stored `const char *` is copied. The connection owns the binding; it goes when the handler
/// is disconnected or the instance is destroyed. Event signals are left unhandled.
template <class T> class Delegate1 {
public:
    using Call = fastdelegate::FastDelegate1<T>;

    static gulong connect(gpointer instance, const char *signal, Call call, T stored = T(),
                          bool after = false)
    {
        return bind(instance, signal, call, stored, true, after);
    }
    static gulong connectObject(gpointer instance, const char *signal, Call call, T stored,
                                bool after = false)
    {
        return bind(instance, signal, call, stored, false, after);
    }

private:
    struct Record {
        Call call;
        typename SignalValue<T>::Stored stored;
        bool fromSignal;
    };

    static gulong bind(gpointer instance, const char *signal, Call call, T stored, bool fromSignal,
                       bool after)
    {
        return SignalBinding::connect(instance, signal, new Record{call, stored, fromSignal}, &marshal,
                                      &release, after);
    }

    static void marshal(GClosure *closure, GValue *returnValue, guint count, const GValue *values, gpointer,
                        gpointer)
    {
        const Record &record = *static_cast<Record *>(closure->data);
        T argument = SignalValue<T>::get(record.stored);
        if (record.fromSignal && count >= 1) {
            T fromSignal = argument;
            if (SignalValue<T>::read(&values[0], fromSignal))
                argument = fromSignal;
        }
        SignalBinding::setHandled(returnValue, false);
        record.call(argument);
    }

    static void release(gpointer record, GClosure *) { delete static_cast<Record *>(record); }
};

#endif
