#ifndef VELMORA_FASTDELEGATE_H
#define VELMORA_FASTDELEGATE_H

#include <functional>
#include <utility>

/// Callable values that remember "which object, which member function" (or a free function),
/// so that widgets can call back into the panel or window that created them without knowing
/// its class.
///
/// `FastDelegate0<R>`, `FastDelegate1<P1, R>` and `FastDelegate2<P1, P2, R>` take zero, one or
/// two arguments. They are plain values: copying one copies the binding, not the object. The
/// bound object is not owned; the caller keeps it alive as long as the delegate may be called.
/// A member function is called through its pointer to member, so a virtual one dispatches on
/// the bound object's dynamic type. Calling an empty delegate does nothing and returns a
/// value-initialised R.
namespace fastdelegate {

namespace detail {

template <class R, class... A> class DelegateBase {
public:
    DelegateBase() = default;
    DelegateBase(std::nullptr_t) {}

    template <class X, class Y> DelegateBase(Y *object, R (X::*method)(A...)) { bind(object, method); }
    template <class X, class Y> DelegateBase(const Y *object, R (X::*method)(A...) const)
    {
        bind(object, method);
    }
    DelegateBase(R (*function)(A...)) { bind(function); }

    /// Binds `method` of `object`; a null object or method leaves the delegate empty.
    template <class X, class Y> void bind(Y *object, R (X::*method)(A...))
    {
        clear();
        if (!object || !method)
            return;
        X *target = object;
        call_ = [target, method](A... args) -> R { return (target->*method)(std::forward<A>(args)...); };
    }
    template <class X, class Y> void bind(const Y *object, R (X::*method)(A...) const)
    {
        clear();
        if (!object || !method)
            return;
        const X *target = object;
        call_ = [target, method](A... args) -> R { return (target->*method)(std::forward<A>(args)...); };
    }
    /// Binds a free (or class-wide) function; a null function leaves the delegate empty.
    void bind(R (*function)(A...))
    {
        clear();
        if (function)
            call_ = function;
    }

    void clear() { call_ = nullptr; }
    bool empty() const { return !call_; }
    explicit operator bool() const { return static_cast<bool>(call_); }
    bool operator!() const { return !call_; }

    R operator()(A... args) const
    {
        if (!call_)
            return R();
        return call_(std::forward<A>(args)...);
    }

private:
    std::function<R(A...)> call_;
};

} // namespace detail

template <class R = void> class FastDelegate0 : public detail::DelegateBase<R> {
public:
    using detail::DelegateBase<R>::DelegateBase;
};

template <class P1, class R = void> class FastDelegate1 : public detail::DelegateBase<R, P1> {
public:
    using detail::DelegateBase<R, P1>::DelegateBase;
};

template <class P1, class P2, class R = void> class FastDelegate2 : public detail::DelegateBase<R, P1, P2> {
public:
    using detail::DelegateBase<R, P1, P2>::DelegateBase;
};

/// Builds the delegate of the right arity from an object and one of its member functions,
/// so that callers need not spell the argument types out.
template <class X, class Y, class R> FastDelegate0<R> MakeDelegate(Y *object, R (X::*method)())
{
    return FastDelegate0<R>(object, method);
}
template <class X, class Y, class R> FastDelegate0<R> MakeDelegate(const Y *object, R (X::*method)() const)
{
    return FastDelegate0<R>(object, method);
}
template <class X, class Y, class P1, class R>
FastDelegate1<P1, R> MakeDelegate(Y *object, R (X::*method)(P1))
{
    return FastDelegate1<P1, R>(object, method);
}
template <class X, class Y, class P1, class R>
FastDelegate1<P1, R> MakeDelegate(const Y *object, R (X::*method)(P1) const)
{
    return FastDelegate1<P1, R>(object, method);
}
template <class X, class Y, class P1, class P2, class R>
FastDelegate2<P1, P2, R> MakeDelegate(Y *object, R (X::*method)(P1, P2))
{
    return FastDelegate2<P1, P2, R>(object, method);
}
template <class X, class Y, class P1, class P2, class R>
FastDelegate2<P1, P2, R> MakeDelegate(const Y *object, R (X::*method)(P1, P2) const)
{
    return FastDelegate2<P1, P2, R>(object, method);
}

template <class R> FastDelegate0<R> MakeDelegate(R (*function)())
{
    return FastDelegate0<R>(function);
}
template <class P1, class R> FastDelegate1<P1, R> MakeDelegate(R (*function)(P1))
{
    return FastDelegate1<P1, R>(function);
}
template <class P1, class P2, class R> FastDelegate2<P1, P2, R> MakeDelegate(R (*function)(P1, P2))
{
    return FastDelegate2<P1, P2, R>(function);
}

} // namespace fastdelegate

#endif
