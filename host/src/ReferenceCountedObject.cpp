#include "ReferenceCountedObject.h"

ReferenceCountedObject::~ReferenceCountedObject() = default;

void ReferenceCountedObject::addReference() const
{
    mReferences.fetch_add(1);
}

bool ReferenceCountedObject::removeReference() const
{
    int current = mReferences.load();
    do {
        if (current <= 0)
            return true;
    } while (!mReferences.compare_exchange_weak(current, current - 1));
    if (current > 1)
        return true;
    delete this;
    return false;
}
