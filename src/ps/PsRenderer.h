#ifndef VELMORA_PSRENDERER_H
#define VELMORA_PSRENDERER_H

#include <memory>

/// The draw function that a vector capture calls to draw its one frame.
namespace PsRenderer {

/// Something that draws a complete frame when called.
class FunctorBase {
public:
    virtual ~FunctorBase() = default;
    virtual void operator()() const = 0;
    /// The user cancelled the frame while it was drawn: nothing is written.
    virtual bool cancelled() const { return false; }
};

/// Calls a parameterless member operation on an object.
template <class T> class Functor0 : public FunctorBase {
public:
    typedef void (T::*Method)();
    Functor0(T *target, Method call) : object(target), method(call) {}
    void operator()() const override
    {
        if (object && method)
            (object->*method)();
    }

private:
    T *object;
    Method method;
};

/// A new functor on the heap that calls `method` on `object`.
template <class T> std::unique_ptr<FunctorBase> Functor(T *object, void (T::*method)())
{
    return std::make_unique<Functor0<T>>(object, method);
}

} // namespace PsRenderer

#endif
