#pragma once

#include <QDateTime>

// Local date and time, injected wherever a path, a query or a decision depends on it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The machine's own clock.
    static const Clock& system();
};
