#ifndef VELMORA_SIGNALVALUE_H
#define VELMORA_SIGNALVALUE_H

#include <glib-object.h>

#include <string>
#include <type_traits>

/// How a binder reads an argument of type T from one of a signal's values, and how it keeps
/// a stored value of type T in its record.
///
/// `read` succeeds for pointers when the value holds a pointer, object, boxed struct (events)
/// or string, and for numbers, booleans and enums when GLib can transform the value into a
/// number. It fails for anything else (a `Point4`, a widget where an `int` is asked for), and
/// the binder then falls back on the stored value.
template <class T, class Enable = void> struct SignalValue {
    static bool read(const GValue *, T &) { return false; }

    using Stored = T;
    static const T &get(const Stored &s) { return s; }
};

template <class T> struct SignalValue<T *> {
    static bool read(const GValue *value, T *&out)
    {
        if (!g_value_fits_pointer(value))
            return false;
        out = static_cast<T *>(g_value_peek_pointer(value));
        return true;
    }

    using Stored = T *;
    static T *get(Stored s) { return s; }
};

/// A stored text (a menu key, say) is copied into the record, so that the caller's buffer
/// need not outlive the connection.
template <> struct SignalValue<const char *> {
    static bool read(const GValue *value, const char *&out)
    {
        if (!g_value_fits_pointer(value))
            return false;
        out = static_cast<const char *>(g_value_peek_pointer(value));
        return true;
    }

    struct Stored {
        Stored(const char *text = nullptr) : isNull(text == nullptr), copy(text ? text : "") {}
        bool isNull;
        std::string copy;
    };
    static const char *get(const Stored &s) { return s.isNull ? nullptr : s.copy.c_str(); }
};

template <class T>
struct SignalValue<T, std::enable_if_t<std::is_arithmetic<T>::value || std::is_enum<T>::value>> {
    static bool read(const GValue *value, T &out)
    {
        constexpr bool isBool = std::is_same<T, bool>::value;
        constexpr bool isReal = std::is_floating_point<T>::value;
        GType target = isBool ? G_TYPE_BOOLEAN : isReal ? G_TYPE_DOUBLE : G_TYPE_INT64;
        if (!g_value_type_transformable(G_VALUE_TYPE(value), target))
            return false;
        GValue number = G_VALUE_INIT;
        g_value_init(&number, target);
        bool ok = g_value_transform(value, &number);
        if (ok) {
            if constexpr (isBool)
                out = g_value_get_boolean(&number) != FALSE;
            else if constexpr (isReal)
                out = static_cast<T>(g_value_get_double(&number));
            else
                out = static_cast<T>(g_value_get_int64(&number));
        }
        g_value_unset(&number);
        return ok;
    }

    using Stored = T;
    static T get(Stored s) { return s; }
};

#endif
