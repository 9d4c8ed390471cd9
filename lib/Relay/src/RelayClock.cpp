#include "RelayClock.h"

RelayClock *RelayClock::system()
{
    static RelayClock clock;
    return &clock;
}
