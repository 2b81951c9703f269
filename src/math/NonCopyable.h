#ifndef VELMORA_NONCOPYABLE_H
#define VELMORA_NONCOPYABLE_H

/// A private base for the classes that own something that must not be shared or doubled (a
/// file, a toolkit window, OpenGL objects, the part of another object they serve): copying
/// one of them is an error at compile time.
class NonCopyable {
public:
    NonCopyable(const NonCopyable &) = delete;
    NonCopyable &operator=(const NonCopyable &) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};

#endif
