#ifndef VELMORA_DELEGATE2INT_H
#define VELMORA_DELEGATE2INT_H

#include "gui/Delegate2.h"

/// `Delegate2::connect` for key events: the same two arguments, but the handler always
/// reports the event as handled, so a key the scene has seen goes no further (no focus
/// movement, no second delivery to the enclosing window).
template <class T1, class T2> class Delegate2Int : private Delegate2<T1, T2> {
public:
    using Call = typename Delegate2<T1, T2>::Call;

    static gulong connect(gpointer instance, const char *signal, Call call, T1 stored1 = T1(),
                          T2 stored2 = T2(), bool after = false)
    {
        return Delegate2<T1, T2>::bind(instance, signal, call, stored1, stored2, true, true, after);
    }
};

#endif
