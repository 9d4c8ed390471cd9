#pragma once

#include "nuvrixhost_global.h"

#include <atomic>

// Shared ownership for objects handed around by pointer. A new object has no
// references; the removeReference that brings the count back to zero deletes
// it. Objects that are never referenced are owned the ordinary way (a parent
// message deletes its sub-messages). The count is atomic: a message may be
// released on another thread than the one that made it.
class NUVRIXHOST_EXPORT ReferenceCountedObject
{
public:
    // Const: a receiver of a const object may still keep it alive.
    void addReference() const;
    // Returns whether the object is still alive. Removing a reference that
    // was never added is ignored, so a stray call cannot delete an object
    // its owner still holds.
    bool removeReference() const;
    int getReferenceCount() const { return mReferences.load(); }

    ReferenceCountedObject(const ReferenceCountedObject &) = delete;
    ReferenceCountedObject &operator=(const ReferenceCountedObject &) = delete;

protected:
    ReferenceCountedObject() = default;
    virtual ~ReferenceCountedObject();

private:
    mutable std::atomic<int> mReferences{0};
};
