#ifndef VELMORA_DELEGATE2_H
#define VELMORA_DELEGATE2_H

#include "gui/FastDelegate.h"
#include "gui/SignalBinding.h"
#include "gui/SignalValue.h"

/// Binds a toolkit signal to a callable of two arguments of types T1 and T2.
///
/// `connect` takes the arguments from the signal as far as it carries them: both values of a
/// two-value signal (widget and expose, motion or button event), the one value and the stored
/// second one of a one-value signal (an adjustment and the number that tells two spin buttons
/// apart), the stored pair when the signal carries none. A signal with more than two values
/// calls nothing and prints "SLOT: error in callback with 2 arguments\n". A value that cannot
/// be read as its argument type is replaced by the stored one.
///
/// `connectObject` always hands over the two stored values (widget and number, notebook and
/// page, colour callable and start colour). The connection owns the binding; it goes when the
/// handler is disconnected or the instance is destroyed. Event signals are left unhandled;
/// `Delegate2Int` is the variant that reports them handled.
template <class T1, class T2> class Delegate2 {
public:
    using Call = fastdelegate::FastDelegate2<T1, T2>;

    static gulong connect(gpointer instance, const char *signal, Call call, T1 stored1 = T1(),
                          T2 stored2 = T2(), bool after = false)
    {
        return bind(instance, signal, call, stored1, stored2, true, false, after);
    }
    static gulong connectObject(gpointer instance, const char *signal, Call call, T1 stored1, T2 stored2,
                                bool after = false)
    {
        return bind(instance, signal, call, stored1, stored2, false, false, after);
    }

protected:
    static gulong bind(gpointer instance, const char *signal, Call call, T1 stored1, T2 stored2,
                       bool fromSignal, bool handled, bool after)
    {
        return SignalBinding::connect(instance, signal,
                                      new Record{call, stored1, stored2, fromSignal, handled}, &marshal,
                                      &release, after);
    }

private:
    struct Record {
        Call call;
        typename SignalValue<T1>::Stored stored1;
        typename SignalValue<T2>::Stored stored2;
        bool fromSignal;
        bool handled;
    };

    static void marshal(GClosure *closure, GValue *returnValue, guint count, const GValue *values, gpointer,
                        gpointer)
    {
        const Record &record = *static_cast<Record *>(closure->data);
        SignalBinding::setHandled(returnValue, record.handled);
        T1 first = SignalValue<T1>::get(record.stored1);
        T2 second = SignalValue<T2>::get(record.stored2);
        if (record.fromSignal) {
            if (count > 2) {
                SignalBinding::reportArityError(2);
                return;
            }
            T1 value1 = first;
            if (count >= 1 && SignalValue<T1>::read(&values[0], value1))
                first = value1;
            T2 value2 = second;
            if (count >= 2 && SignalValue<T2>::read(&values[1], value2))
                second = value2;
        }
        record.call(first, second);
    }

    static void release(gpointer record, GClosure *) { delete static_cast<Record *>(record); }
};

#endif
